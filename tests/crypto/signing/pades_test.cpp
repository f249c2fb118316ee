// PAdES baseline signatures through the real program, judged by tools nobody
// here wrote: B-B on every signing route, then B-T, B-LT and B-LTA with a real
// time-stamping authority and OCSP responder on loopback, extended twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "crypto/crypto_support.h"
#include "crypto/revocation_service.h"
#include "pdf/qpdf_api.h"
#include "support/soft_token.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

constexpr const char *kCades = "ETSI.CAdES.detached";

// One signature or document timestamp of a document: its field, sub-filter,
// the signed ranges written out and its /Contents (DER and zero filler).
struct SignedField {
    std::string name, subfilter, ranges_file, contents_file;
};

std::vector<SignedField> signed_fields(const std::string &pdf, const TempDir &dir) {
    std::vector<SignedField> found;
    QPDF doc;
    doc.processFile(pdf.c_str());
    const std::string bytes = qstest::read_file(pdf);
    QPDFObjectHandle fields = doc.getRoot().getKey("/AcroForm").getKey("/Fields");
    for (QPDFObjectHandle field : fields.aitems()) {
        QPDFObjectHandle value = field.getKey("/V");
        if (!value.isDictionary() || !value.getKey("/ByteRange").isArray()) continue;
        QPDFObjectHandle range = value.getKey("/ByteRange");
        const auto at = [&](int i) { return static_cast<std::size_t>(range.getArrayItem(i).getIntValue()); };
        SignedField f;
        f.name = field.getKey("/T").getUTF8Value();
        f.subfilter = value.getKey("/SubFilter").getName();
        const std::string stem = dir.file("field" + std::to_string(found.size()));
        f.ranges_file = stem + ".ranges";
        f.contents_file = stem + ".der";
        qstest::write_file(f.ranges_file, bytes.substr(0, at(1)) + bytes.substr(at(2), at(3)));
        qstest::write_file(f.contents_file, value.getKey("/Contents").getStringValue());
        found.push_back(f);
    }
    return found;
}

// The attribute names of one section ("signedAttrs" or "unsignedAttrs") of
// the first SignerInfo, as `openssl cms -cmsout -print` shows them.
std::vector<std::string> attributes(const std::string &der, const std::string &section) {
    const std::string printed =
        run_shell("openssl cms -cmsout -print -inform DER -in " + shell_quote(der) + " 2>&1").out;
    std::vector<std::string> names;
    std::size_t at = printed.find(section + ":");
    if (at == std::string::npos) return names;
    const std::size_t end = printed.find("signatureAlgorithm:", at);
    for (at = printed.find("object: ", at); at < end && at != std::string::npos; at = printed.find("object: ", at + 1)) {
        const std::size_t stop = printed.find(' ', at + 8);
        names.push_back(printed.substr(at + 8, stop - at - 8));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void expect_cms_verifies(const SignedField &f) {
    const auto verified = run_shell("openssl cms -verify -binary -noverify -inform DER -in " +
                                    shell_quote(f.contents_file) + " -content " + shell_quote(f.ranges_file) +
                                    " -out /dev/null 2>&1");
    EXPECT_NE(verified.out.find("Verification successful"), std::string::npos) << f.name << ": " << verified.out;
}

// pdfsig finds the PAdES signature valid and names its sub-filter; qpdf finds
// no fault; `quillseal verify` accepts the newest signature.
void expect_outside_checks(const std::string &pdf, const std::string &verified_signer) {
    const std::string sig = run_shell("pdfsig " + shell_quote(pdf) + " 2>&1").out;
    EXPECT_NE(sig.find("Signature Type: ETSI.CAdES.detached"), std::string::npos) << sig;
    EXPECT_NE(sig.find("Signature is Valid"), std::string::npos) << sig;
    EXPECT_EQ(run_shell("qpdf --check " + shell_quote(pdf) + " >/dev/null 2>&1").status, 0) << pdf;
    EXPECT_EQ(run_cli({"verify", "-i", pdf}).out, "0#Document signature verified [Signer: " + verified_signer + "]\n");
}

const std::vector<std::string> kBaselineAttributes = {"contentType", "id-smime-aa-signingCertificateV2",
                                                      "messageDigest"};

// The B-B structure: exactly the three signed attributes, no unsigned one,
// verifying over its ranges.
void expect_baseline_b(const std::string &pdf, const TempDir &dir, const std::string &signer) {
    expect_outside_checks(pdf, signer);
    const auto fields = signed_fields(pdf, dir);
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_EQ(fields[0].subfilter, "/ETSI.CAdES.detached");
    EXPECT_EQ(attributes(fields[0].contents_file, "signedAttrs"), kBaselineAttributes);
    EXPECT_TRUE(attributes(fields[0].contents_file, "unsignedAttrs").empty());
    expect_cms_verifies(fields[0]);
    EXPECT_NE(run_shell("pdfsig " + shell_quote(pdf)).out.find("Total document signed"), std::string::npos);
}

std::string two_phase(const std::vector<std::string> &args) {
    std::string command = shell_quote(QS_TWO_PHASE_TOOL);
    for (const auto &a : args) command += " " + shell_quote(a);
    std::string line = run_shell(command + " 2>/dev/null").out;
    return line.substr(0, line.find('\n'));
}

TEST(PadesBaseline, BbOnEverySigningRoute) {
    TempDir dir;
    qstest::SoftToken token(dir);
    ASSERT_EQ(token.problem(), "");
    token.activate();
    const std::string in = fixture("one-page.pdf");
    const std::string cades = std::string("subfilter=") + kCades + "\nextrarange=4000\n";
    struct Route {
        const char *name;
        std::string conf;
        std::string signer = "Test Signer";
        bool two_phase = false;
        std::string refusal = "";  // the status line when the route is refused
    } routes[] = {
        {"RSA key store", qstest::write_signing_config(dir, "signer.p12", cades, "rsa.conf")},
        {"EC key store, SHA-384",
         qstest::write_signing_config(dir, "ec-signer.p12", cades + "hashalgo=SHA384\n", "ec.conf"), "EC Signer"},
        {"JSON configuration, SHA-512",
         "{\"conffile\": \"" + qstest::write_signing_config(dir, "signer.p12", "extrarange=4000\n", "plain.conf") +
             "\", \"subfilter\": \"ETSI.CAdES.detached\", \"hashalgo\": \"SHA512\"}"},
        {"PKCS#11 device", token.write_config(dir, "device.conf", "pkcs11:token=qs;object=ec", "ec-signer.pem", cades),
         "EC Signer"},
        {"two phases", qstest::write_signing_config(dir, "signer.p12", cades, "two.conf"), "Test Signer", true},
        {"SHA-1 refused", qstest::write_signing_config(dir, "signer.p12", cades + "hashalgo=SHA1\n", "sha1.conf"),
         "", false,
         "-1#The subfilter /ETSI.CAdES.detached requires hash algorithm SHA256, SHA384 or SHA512! The hash "
         "algorithm configured is SHA1...\n"},
    };
    for (const Route &r : routes) {
        SCOPED_TRACE(r.name);
        const std::string out = dir.file("out.pdf");
        std::remove(out.c_str());
        if (r.two_phase) {
            const std::string digest = two_phase({"start", in, out, r.conf});
            ASSERT_EQ(digest.rfind("0#", 0), 0u) << digest;
            const std::string signature = two_phase({"hash", r.conf, digest.substr(2)});
            ASSERT_EQ(signature.rfind("0#", 0), 0u) << signature;
            ASSERT_EQ(two_phase({"end", out, signature.substr(2)}), "0#Document signed");
        } else {
            const std::string line = run_cli({"-i", in, "-o", out, "-z", r.conf}).out;
            if (!r.refusal.empty()) {
                EXPECT_EQ(line, r.refusal);
                EXPECT_FALSE(qstest::file_exists(out));
                continue;
            }
            ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        }
        expect_baseline_b(out, dir, r.signer);
    }
    // A two-phase start is refused before anything is written, as the digest would be SHA-1.
    const Route &sha1 = routes[5];
    EXPECT_EQ(two_phase({"start", in, dir.file("sha1.pdf"), sha1.conf}) + "\n", sha1.refusal);
    EXPECT_FALSE(qstest::file_exists(dir.file("sha1.pdf")));
}

// The decoded items of one kind of the document's security store.
std::set<std::string> store_items(const std::string &pdf, const char *kind) {
    std::set<std::string> items;
    QPDF doc;
    doc.processFile(pdf.c_str());
    QPDFObjectHandle array = doc.getRoot().getKey("/DSS").getKey(kind);
    for (QPDFObjectHandle item : array.aitems()) {
        auto data = item.getStreamData(qpdf_dl_generalized);
        items.emplace(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
    }
    return items;
}

std::string der_of_pem(const std::string &pem) {
    return run_shell("openssl x509 -outform DER -in " + shell_quote(pem)).out;
}

bool contains_all(const std::set<std::string> &all, const std::set<std::string> &part) {
    return std::includes(all.begin(), all.end(), part.begin(), part.end());
}

// A document timestamp: the token's imprint is the digest of its ranges and
// it chains to the PKI's root.
// A B-B configuration (file pades.conf in dir) for the service's signer, its
// timestamps from tsa_url and its cache in dir, with the extra lines.
std::string pades_config(const RevocationService &pki, const TempDir &dir, const std::string &tsa_url,
                         const std::string &extra = "") {
    char stored[600];
    encrypt_password(qstest::kStorePassword, stored);
    const std::string conf = dir.file("pades.conf");
    qstest::write_file(conf, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + pki.file("signer.p12") + "\ncertpasswd=" +
                                 stored + "\nsubfilter=ETSI.CAdES.detached\n" + extra + "tsaurl=" + tsa_url +
                                 "\ncachedir=" + dir.path() + "\n");
    return conf;
}

void expect_document_timestamp(const SignedField &f, const RevocationService &pki) {
    EXPECT_EQ(f.subfilter, "/ETSI.RFC3161");
    const auto verified = run_shell("openssl ts -verify -token_in -in " + shell_quote(f.contents_file) + " -data " +
                                    shell_quote(f.ranges_file) + " -CAfile " + shell_quote(pki.file("root/ca.pem")) +
                                    " -untrusted " + shell_quote(pki.file("chain.pem")) + " 2>&1");
    EXPECT_NE(verified.out.find("Verification: OK"), std::string::npos) << verified.out;
}

// The life of an archive: B-T, B-LT, then document timestamps and validation
// data renewed round after round with a fresh cache, for an authority whose
// tokens carry its chain and for one whose tokens carry its certificate alone
// (its issuer is then found in the document's other signatures and its store).
TEST(PadesBaseline, LevelsFromBtToLtaRenewAndKeepEveryItemOfValidationData) {
    RevocationService pki;
    const std::string tsa_name = "LTV Time-Stamping Authority";
    for (const bool own_certificate_only : {false, true}) {
        SCOPED_TRACE(own_certificate_only ? "tokens carry the TSA's certificate alone" : "tokens carry the chain");
        TempDir dir;
        const std::string conf = pades_config(pki, dir, pki.tsa_url(own_certificate_only), "extrarange=4000\n");

        // B-T: the signature carries a token over its signature value, and nothing else is added.
        const std::string bt = dir.file("b-t.pdf");
        ASSERT_EQ(run_cli({"-i", fixture("one-page.pdf"), "-o", bt, "-z", conf, "-q"}).out.rfind("0#Document signed", 0),
                  0u);
        expect_outside_checks(bt, "LTV Signer");
        auto fields = signed_fields(bt, dir);
        ASSERT_EQ(fields.size(), 1u);
        EXPECT_EQ(attributes(fields[0].contents_file, "signedAttrs"), kBaselineAttributes);
        EXPECT_EQ(attributes(fields[0].contents_file, "unsignedAttrs"),
                  std::vector<std::string>{"id-smime-aa-timeStampToken"});
        expect_cms_verifies(fields[0]);

        // B-LT: the signer's chain, the TSA's certificate and the responders' certificates are in the store.
        const std::string lt = dir.file("b-lt.pdf");
        ASSERT_EQ(run_cli({"addltv", "-i", bt, "-o", lt, "-z", conf}).out.rfind("0#Document LTVed", 0), 0u);
        expect_outside_checks(lt, "LTV Signer");
        std::set<std::string> certs = store_items(lt, "/Certs"), ocsps = store_items(lt, "/OCSPs"),
                              crls = store_items(lt, "/CRLs");
        for (const char *pem :
             {"signer.pem", "inter/ca.pem", "tsa/tsa.pem", "inter/responder.pem", "root/responder.pem"})
            EXPECT_EQ(certs.count(der_of_pem(pki.file(pem))), 1u) << pem;
        EXPECT_FALSE(ocsps.empty());

        // B-LTA: a document timestamp over everything; then renewed, round after round.
        std::string current = lt;
        for (int round = 1; round <= 3; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            const std::string lta = dir.file("b-lta-" + std::to_string(round) + ".pdf");
            ASSERT_EQ(run_cli({"timestamp", "-i", current, "-o", lta, "-z", conf}).out.rfind("0#Document timestamped", 0),
                      0u);
            EXPECT_EQ(run_cli({"verify", "-i", lta}).out, "0#Document signature verified [Signer: " + tsa_name + "]\n");
            EXPECT_EQ(run_shell("qpdf --check " + shell_quote(lta) + " >/dev/null 2>&1").status, 0);
            fields = signed_fields(lta, dir);
            ASSERT_EQ(fields.size(), static_cast<std::size_t>(round + 1));
            expect_document_timestamp(fields[0], pki);
            expect_cms_verifies(fields.back());
            EXPECT_NE(run_shell("pdfsig " + shell_quote(lta) + " 2>&1").out.find("Signature is Valid"),
                      std::string::npos);

            // A fresh cache: every response is fetched again, and every earlier item must stay.
            run_shell("rm -f " + shell_quote(dir.path()) + "/quillseal-*");
            current = dir.file("b-lta-" + std::to_string(round) + "-ltv.pdf");
            const auto renewed = run_cli({"addltv", "-i", lta, "-o", current, "-z", conf});
            ASSERT_EQ(renewed.out.rfind("0#Document LTVed", 0), 0u) << renewed.out;
            const std::set<std::string> now_certs = store_items(current, "/Certs"),
                                        now_ocsps = store_items(current, "/OCSPs"),
                                        now_crls = store_items(current, "/CRLs");
            EXPECT_TRUE(contains_all(now_certs, certs));
            EXPECT_TRUE(contains_all(now_ocsps, ocsps));
            EXPECT_TRUE(contains_all(now_crls, crls));
            EXPECT_GT(now_ocsps.size(), ocsps.size());
            expect_outside_checks(current, tsa_name);
            certs = now_certs;
            ocsps = now_ocsps;
            crls = now_crls;
        }
    }
}

// Every date the program writes, on a machine at any offset from UTC, is read
// as the same instant by poppler (which reads /M as the signing time of a
// PAdES signature), by qpdf's JSON and by the report: UTC is "Z" alone.
TEST(PadesBaseline, DatesAtEveryOffsetReadAlikeInEveryReader) {
    RevocationService pki;
    struct Zone {
        const char *tz;
        const char *offset;    // as the PDF date ends
        const char *iso_zone;  // as the report's ISO 8601 time ends
    };
    const Zone zones[] = {{"UTC0", "Z", "Z"}, {"CET-1", "+01'00'", "+01:00"}, {"NST3:30", "-03'30'", "-03:30"}};
    for (const Zone &zone : zones) {
        SCOPED_TRACE(zone.tz);
        TempDir dir;
        const std::string conf = pades_config(pki, dir, pki.tsa_url());
        const std::string signed_pdf = dir.file("signed.pdf"), stamped = dir.file("stamped.pdf");
        const std::string cli = "TZ=" + std::string(zone.tz) + " " + shell_quote(QS_CLI_PATH);
        ASSERT_EQ(run_shell(cli + " -i " + shell_quote(fixture("one-page.pdf")) + " -o " + shell_quote(signed_pdf) +
                            " -z " + shell_quote(conf))
                      .status,
                  0);
        ASSERT_EQ(run_shell(cli + " timestamp -i " + shell_quote(signed_pdf) + " -o " + shell_quote(stamped) + " -z " +
                            shell_quote(conf))
                      .status,
                  0);

        // qpdf's JSON: the signature's /M and the information's /ModDate (a
        // document timestamp has no /M: its token holds its time).
        const std::string json = run_shell("qpdf --json " + shell_quote(stamped)).out;
        const std::regex date("\"/(M|ModDate)\": \"u:(D:[0-9]{14}([^\"]*))\"");
        std::vector<std::string> dates;
        for (auto it = std::sregex_iterator(json.begin(), json.end(), date); it != std::sregex_iterator(); ++it) {
            EXPECT_EQ((*it)[3].str(), zone.offset) << (*it)[2];
            dates.push_back((*it)[2]);
        }
        EXPECT_EQ(dates.size(), 2u) << json;

        // The report gives the signature's /M as its signing time, in ISO 8601.
        const std::string report = run_cli({"report", "-i", signed_pdf}).out;
        std::smatch iso;
        ASSERT_TRUE(std::regex_search(report, iso, std::regex("\"signing_time\": \"([^\"]+)\""))) << report;
        const std::string time = iso[1];
        EXPECT_EQ(time.substr(19), zone.iso_zone) << time;

        // poppler reads the same instant: its UTC rendering agrees with the report's time.
        std::tm parts{};
        ASSERT_TRUE(strptime(time.substr(0, 19).c_str(), "%Y-%m-%dT%H:%M:%S", &parts));
        const int sign = time[19] == '-' ? -1 : 1;
        const long offset =
            time[19] == 'Z' ? 0 : sign * (std::stol(time.substr(20, 2)) * 3600 + std::stol(time.substr(23, 2)) * 60);
        const std::time_t instant = timegm(&parts) - offset;
        char utc[64];
        std::strftime(utc, sizeof utc, "Signing Time: %b %d %Y %H:%M:%S", std::gmtime(&instant));
        const std::string sig = run_shell("TZ=UTC0 pdfsig " + shell_quote(signed_pdf) + " 2>&1").out;
        EXPECT_NE(sig.find(utc), std::string::npos) << utc << "\n" << sig;
        EXPECT_NE(sig.find("Signature is Valid"), std::string::npos) << sig;
    }
}

}  // namespace
