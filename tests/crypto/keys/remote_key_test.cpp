// Keys held by a remote signing service, through the real program and a real
// service on loopback (tests/support/csc_service.py, real keys and real
// cryptography): every signing route, directories and lists signed in
// batches, each fault of the service refused with one line per document and
// no output, and no secret in a status line or the debug log.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crypto/csc_service.h"
#include "crypto/hex.h"
#include "crypto/revocation_service.h"
#include "support/support.h"

namespace {

using cryptotest::CscService;
using cryptotest::stored_form;
using qstest::fixture;
using qstest::read_file;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

constexpr auto npos = std::string::npos;

struct Verdict {
    std::string problem;  // empty when every judge accepted the document
    std::string der;      // the signature's SignedData, written out
};

// pdfsig finds the newest signature valid over the whole document (or,
// with updates after it, over its ranges) and names its signer, qpdf --check
// passes, and openssl cms -verify accepts the SignedData over the signed
// ranges with the CA (an encrypted document's signature sits in an encrypted
// object: pdfsig judges it).
Verdict judge(const std::string &pdf, const std::string &signer, const TempDir &dir, const std::string &password = "",
              const std::string &ca = fixture("ca.pem"), bool whole = true) {
    Verdict v;
    const std::string pw = password.empty() ? "" : " -upw " + shell_quote(password);
    const std::string sig = run_shell("pdfsig" + pw + " " + shell_quote(pdf) + " 2>&1").out;
    if (sig.find("Signature is Valid") == npos || (whole && sig.find("Total document signed") == npos) ||
        sig.find("Common Name: " + signer) == npos) {
        v.problem = "pdfsig: " + sig;
        return v;
    }
    const std::string qpw = password.empty() ? "" : " --password=" + shell_quote(password);
    if (run_shell("qpdf --check" + qpw + " " + shell_quote(pdf) + " >/dev/null 2>&1").status != 0) {
        v.problem = "qpdf --check fails on " + pdf;
        return v;
    }
    if (!password.empty()) return v;
    const std::string bytes = read_file(pdf);
    long r[4] = {0, 0, 0, 0};
    const std::size_t at = bytes.find("/ByteRange");
    if (at == npos || std::sscanf(bytes.c_str() + at, "/ByteRange [ %ld %ld %ld %ld", &r[0], &r[1], &r[2], &r[3]) != 4) {
        v.problem = "no /ByteRange";
        return v;
    }
    const auto der = qs::parse_hex_pairs(bytes.substr(static_cast<std::size_t>(r[1]) + 1,
                                                      static_cast<std::size_t>(r[2] - r[1] - 2)));
    v.der = dir.file("signature.der");
    qstest::write_file(v.der, std::string(der->begin(), der->end()));
    qstest::write_file(dir.file("ranges"), bytes.substr(0, static_cast<std::size_t>(r[1])) +
                                               bytes.substr(static_cast<std::size_t>(r[2]), static_cast<std::size_t>(r[3])));
    const std::string verified = run_shell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                                           shell_quote(ca) + " -in " + shell_quote(v.der) +
                                           " -content " + shell_quote(dir.file("ranges")) + " -out /dev/null 2>&1")
                                     .out;
    if (verified.find("Verification successful") == npos) v.problem = "openssl cms -verify: " + verified;
    return v;
}

std::string printed(const std::string &der) {
    return run_shell("openssl cms -cmsout -print -inform DER -in " + shell_quote(der) + " 2>&1").out;
}

TEST(RemoteKey, SignsOnEverySigningRoute) {
    TempDir dir;
    // A credential whose certificate names an OCSP responder and a CRL, with
    // the time-stamping authority of its PKI, for B-T and B-LT.
    cryptotest::RevocationService pki;
    CscService service({"--credential", "lt=" + pki.file("signer.p12")});
    const std::string in = fixture("one-page.pdf");
    const std::string ec = "csccredential=ec\nsubfilter=ETSI.CAdES.detached\n";
    const std::string login = "cscuser=" + std::string(CscService::kUser) + "\ncscpasswd=" +
                              stored_form(CscService::kPassword) + "\n";
    struct Route {
        const char *name;
        std::string conf;
        std::vector<std::string> args;
        std::string signer;
        std::string password = "";
        bool timestamped = false;  // then LTV data is added, and the chain ends at the PKI's root
        std::string refusal = "";
    } routes[] = {
        {"RSA key, adbe.pkcs7.detached", service.write_config(dir, "", "rsa.conf"), {}, "Test Signer"},
        {"EC key, PAdES B-B, visible and certifying", service.write_config(dir, ec, "ec.conf"), {"-v", "-c"},
         "EC Signer"},
        {"a login, the first credential listed, SHA-512",
         service.write_config(dir, login + "hashalgo=SHA512\n", "login.conf", false), {}, "Test Signer"},
        {"encrypted with an open password", service.write_config(dir, "", "enc.conf"), {"-p", "open-pw"},
         "Test Signer", "open-pw"},
        {"PAdES B-T, then LTV data (B-LT)",
         service.write_config(dir, "csccredential=lt\nsubfilter=ETSI.CAdES.detached\ntsaurl=" + pki.tsa_url() +
                                       "\ncachedir=" + dir.path() + "\n", "bt.conf"),
         {"-q"}, "LTV Signer", "", true},
        {"adbe.pkcs7.sha1 refused", service.write_config(dir, "hashalgo=SHA1\nsubfilter=adbe.pkcs7.sha1\n", "sha1.conf"),
         {}, "", "", false,
         "-1#The subfilter /adbe.pkcs7.sha1 is made with a key in this process only; choose /adbe.pkcs7.detached "
         "or /ETSI.CAdES.detached for a key in a remote signing service.\n"},
    };
    for (const Route &r : routes) {
        SCOPED_TRACE(r.name);
        const std::string out = dir.file("out.pdf");
        std::remove(out.c_str());
        std::vector<std::string> args = {"-i", in, "-o", out, "-z", r.conf};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const std::string line = run_cli(args).out;
        if (!r.refusal.empty()) {
            EXPECT_EQ(line, r.refusal);
            EXPECT_FALSE(qstest::file_exists(out));
            continue;
        }
        ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        const Verdict v = judge(out, r.signer, dir, r.password, r.timestamped ? pki.file("root/ca.pem") : fixture("ca.pem"));
        EXPECT_EQ(v.problem, "");
        if (!r.timestamped) continue;
        EXPECT_NE(printed(v.der).find("id-smime-aa-timeStampToken"), npos);
        const std::string ltv = dir.file("ltv.pdf");
        const std::string added = run_cli({"addltv", "-i", out, "-o", ltv, "-z", r.conf}).out;
        ASSERT_EQ(added.rfind("0#Document LTVed", 0), 0u) << added;
        EXPECT_EQ(judge(ltv, r.signer, dir, "", pki.file("root/ca.pem"), false).problem, "");
    }
}

TEST(RemoteKey, SignsDirectoriesAndListsInBatches) {
    TempDir dir;
    const std::string docs = dir.file("in");
    qstest::run_shell("mkdir " + shell_quote(docs));
    std::string list;
    for (int i = 1; i <= 7; ++i) {
        const std::string doc = docs + "/p" + std::to_string(i) + ".pdf";
        qstest::write_file(doc, read_file(fixture("one-page.pdf")));
        list += doc + "\n";
    }
    qstest::write_file(dir.file("list"), list);
    struct Run {
        const char *name;
        std::vector<std::string> service;
        std::vector<std::string> args;
        bool from_list;
        int authorisations;  // one for each batch, and one for each renewal
        long largest;        // the most signatures one authorisation covers
    } runs[] = {
        {"in this process", {}, {}, false, 3, 3},
        {"two workers, each given whole batches", {}, {"-j", "2"}, false, 3, 3},
        {"a list on standard input", {}, {}, true, 3, 3},
        {"a SAD expired before its use, renewed once", {"--expired-sads", "1"}, {}, false, 4, 3},
        // Batches of three, each signed in parts of two and one.
        {"a credential that covers two signatures an authorisation", {"--multisign", "2"}, {}, false, 5, 2},
    };
    for (const Run &r : runs) {
        SCOPED_TRACE(r.name);
        CscService service(r.service);
        const std::string out = dir.file(std::string("out-") + std::to_string(&r - runs));
        qstest::run_shell("mkdir " + shell_quote(out));
        std::string command = shell_quote(QS_CLI_PATH) + " -i " + (r.from_list ? "-" : shell_quote(docs)) + " -o " +
                              shell_quote(out) + " -z " + shell_quote(service.write_config(dir, "cscbatch=3\nsigfield=batch.approval\n"));
        for (const std::string &a : r.args) command += " " + shell_quote(a);
        if (r.from_list) command += " < " + shell_quote(dir.file("list"));
        const std::string lines = run_shell(command + " 2>/dev/null").out;
        int signed_lines = 0;
        for (std::size_t at = lines.find("0#Document signed"); at != npos; at = lines.find("0#Document signed", at + 1))
            ++signed_lines;
        EXPECT_EQ(signed_lines, 7) << lines;
        // No document has the field asked for: each line says it was made.
        int made = 0;
        for (std::size_t at = lines.find("] new field[batch.approval]\n"); at != npos;
             at = lines.find("] new field[batch.approval]\n", at + 1))
            ++made;
        EXPECT_EQ(made, 7) << lines;
        EXPECT_EQ(judge(out + "/p7.pdf", "Test Signer", dir).problem, "");
        long signed_hashes = 0;
        for (const cryptotest::CscRequest &request : service.requests()) {
            if (request.method == "credentials/authorize") {
                EXPECT_LE(request.num_signatures, r.largest);
            }
            if (request.method == "signatures/signHash" && request.status == 200) signed_hashes += request.hashes;
        }
        EXPECT_EQ(signed_hashes, 7);
        EXPECT_EQ(service.count("credentials/authorize"), r.authorisations);
        EXPECT_EQ(service.count("signatures/signHash"), r.authorisations);
        // The credential is read once per process.
        EXPECT_EQ(service.count("credentials/info"), r.args.empty() ? 1 : 2);
    }
}

TEST(RemoteKey, RefusesWhatTheServiceGetsWrong) {
    TempDir dir;
    const std::string docs = dir.file("in");
    qstest::run_shell("mkdir " + shell_quote(docs));
    for (const char *name : {"a.pdf", "b.pdf"}) qstest::write_file(docs + "/" + name, read_file(fixture("one-page.pdf")));
    const std::string not_verified = "returned a signature value that does not verify with the credential's certificate.";
    struct Fault {
        const char *name;
        std::vector<std::string> service;
        std::string conf;
        std::string said;
    } faults[] = {
        {"a signature by another key", {"--fault", "other-key"}, "", not_verified},
        {"a short value", {"--fault", "short"}, "", not_verified},
        {"an empty value", {"--fault", "empty"}, "", "returned an empty signature value."},
        {"fewer signatures than hashes", {"--fault", "fewer"}, "", "returned 1 signatures for 2 hashes."},
        {"more signatures than hashes", {"--fault", "more"}, "", "returned 3 signatures for 2 hashes."},
        {"a reply that is not JSON", {"--fault", "badjson"}, "", "answered signatures/signHash with something that is not JSON [URL: "},
        {"HTTP 401", {"--fault", "http401"}, "", "did not accept the access token or the login (HTTP 401"},
        {"HTTP 403", {"--fault", "http403"}, "", "denied access (HTTP 403: access_denied: Access denied) [URL: "},
        {"HTTP 500", {"--fault", "http500"}, "", "failed (HTTP 500) [URL: "},
        {"an error body", {"--fault", "error"}, "",
         "refused the request (HTTP 400: invalid_request: The service refuses this request) [URL: "},
        {"no answer in time", {"--fault", "silent"}, "httptimeout=2\n", "Timeout was reached [URL: "},
        {"a reply over the cap", {"--fault", "big"}, "", "The response is larger than 4194304 bytes [URL: "},
        {"a wrong PIN", {}, "cscpin=" + stored_form("000000") + "\n", "(HTTP 400: invalid_pin: The PIN is invalid)"},
        {"an access token the service does not know", {}, "csctoken=" + stored_form("not-the-token") + "\n",
         "(HTTP 401: invalid_token: The access token is not valid)"},
        {"an unknown credential", {}, "csccredential=nobody\n",
         "(HTTP 400: invalid_request: Invalid parameter credentialID)"},
        {"a SAD that is expired again when renewed", {"--expired-sads", "9"}, "",
         "refused its authorisation as expired, also when renewed."},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.name);
        CscService service(f.service);
        const std::string out = dir.file(std::string("out-") + std::to_string(&f - faults));
        qstest::run_shell("mkdir " + shell_quote(out));
        const std::string conf = service.write_config(dir, f.conf + "cscbatch=2\n");
        const std::string lines = run_cli({"-i", docs, "-o", out, "-z", conf}).out;
        // One line for each document, each saying what went wrong and naming it.
        for (const char *name : {"a.pdf", "b.pdf"}) {
            const std::size_t at = lines.find("[File: " + docs + "/" + name + "]\n");
            ASSERT_NE(at, npos) << lines;
            const std::size_t start = lines.rfind('\n', at) == npos ? 0 : lines.rfind('\n', at) + 1;
            EXPECT_EQ(lines.compare(start, 3, "-1#"), 0) << lines;
            EXPECT_NE(lines.substr(start, at - start).find(f.said), npos) << lines;
        }
        EXPECT_EQ(run_shell("ls -A " + shell_quote(out)).out, "");
    }
    // An incomplete configuration is refused before any document.
    qstest::write_file(dir.file("bare.conf"), "certstore=CSC\ncsctoken=" + stored_form("t") + "\n");
    EXPECT_EQ(run_cli({"-i", docs, "-o", dir.file("out-0"), "-z", dir.file("bare.conf")}).out,
              "-1#Error processing configuration file! The entry cscurl, and csctoken or cscuser and cscpasswd, may "
              "be missing!\n");
}

TEST(RemoteKey, KeepsSecretsOutOfStatusLinesAndTheDebugLog) {
    TempDir dir;
    const std::string login = "cscuser=" + std::string(CscService::kUser) + "\ncscpasswd=" +
                              stored_form(CscService::kPassword) + "\ndebug=on\nlogfile=" + dir.file("debug.log") + "\n";
    // A service that repeats the PIN or the SAD and the access token in its error text.
    for (const char *method : {"credentials/authorize", "signatures/signHash"}) {
        SCOPED_TRACE(method);
        CscService service({"--fault", "echo", "--fault-on", method});
        const std::string line =
            run_cli({"-i", fixture("one-page.pdf"), "-o", dir.file("out.pdf"), "-z",
                     service.write_config(dir, login, "login.conf", false)})
                .out;
        EXPECT_EQ(line.rfind("-1#The remote signing service refused the request (HTTP 400: invalid_request: Refused: ", 0), 0u)
            << line;
        EXPECT_NE(line.find("***"), npos) << line;
        std::vector<std::string> secrets = {CscService::kPassword, CscService::kPin,
                                            std::string(CscService::kUser) + ":" + CscService::kPassword};
        for (const cryptotest::CscRequest &request : service.requests())
            secrets.insert(secrets.end(), request.issued.begin(), request.issued.end());
        ASSERT_GE(secrets.size(), 4u);  // the token the login issued, at least
        const std::string log = read_file(dir.file("debug.log"));
        EXPECT_NE(log.find("auth/login answered with HTTP 200"), npos) << log;
        for (const std::string &secret : secrets) {
            EXPECT_EQ(line.find(secret), npos) << secret;
            EXPECT_EQ(log.find(secret), npos) << secret;
        }
    }
}

}  // namespace
