// Timestamped signatures through the real program against a real
// time-stamping authority: `openssl ts -reply` behind a local HTTP(S) service.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/cms.h>
#include <openssl/sha.h>
#include <openssl/ts.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"
#include "crypto/hex.h"
#include "crypto/local_service.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::LocalService;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;

std::string replaced(std::string text, const std::string &url) {
    for (std::size_t at; (at = text.find("%URL%")) != std::string::npos;) text.replace(at, 5, url);
    return text;
}

void expect_valid(const std::string &pdf) {
    const auto sig = run_shell("pdfsig " + shell_quote(pdf) + " 2>&1");
    EXPECT_NE(sig.out.find("Signature is Valid"), std::string::npos) << sig.out;
    EXPECT_NE(sig.out.find("Total document signed"), std::string::npos) << sig.out;
    EXPECT_EQ(run_shell("qpdf --check " + shell_quote(pdf) + " >/dev/null 2>&1").status, 0);
}

struct Exchange {
    const char *name;
    const char *mode;           // of the service; nullptr: none is started
    bool https;
    std::string conf;           // extra configuration lines; %URL% is the service's URL
    std::string line;           // expected status line (prefix when it ends in "..."); %URL% as above
    std::vector<std::string> service = {};
};

// The service's options, with its TLS certificate when it speaks https.
std::vector<std::string> service_options(const Exchange &c) {
    std::vector<std::string> options = c.service;
    if (c.https)
        options.insert(options.end(), {"--tls-cert", qstest::tsa_pki().tls_cert, "--tls-key", qstest::tsa_pki().tls_key});
    return options;
}

TEST(Timestamp, ReplyAndExchangeOutcomesThroughTheProgram) {
    const std::string ca = fixture("ca.pem");
    const Exchange cases[] = {
        {"granted with modifications", "mods", false, "tsaurl=%URL%\n", "0#Document signed"},
        {"rejection", "reject", false, "tsaurl=%URL%\n", "-1#TSA did not grant timestamp! Response status: [2]\n"},
        {"HTML page with status 500", "html500", false, "tsaurl=%URL%\n",
         "-1#The TSA reply is not a timestamp response (HTTP status 500) [URL: %URL%]\n"},
        {"empty body", "empty", false, "tsaurl=%URL%\n",
         "-1#The TSA reply is not a timestamp response (HTTP status 200) [URL: %URL%]\n"},
        {"redirect not followed", "redirect", false, "tsaurl=%URL%\n",
         "-1#The TSA reply is not a timestamp response (HTTP status 302) [URL: %URL%]\n"},
        {"token for another query", "wrong", false, "tsaurl=%URL%\n",
         "-1#The TSA reply does not answer the timestamp query [URL: %URL%]\n"},
        {"basic authentication", "auth", false, "tsaurl=%URL%\ntsauser=stamp-user\ntsapasswd=stamp-secret\n",
         "0#Document signed", {"--credentials", "stamp-user:stamp-secret"}},
        {"wrong password", "auth", false, "tsaurl=%URL%\ntsauser=stamp-user\ntsapasswd=not-the-secret\n",
         "-1#The TSA reply is not a timestamp response (HTTP status 401) [URL: %URL%]\n",
         {"--credentials", "stamp-user:stamp-secret"}},
        {"https with tsacert", "tsa", true, "tsaurl=%URL%\ntsacert=" + ca + "\n", "0#Document signed"},
        {"https with an untrusted server", "tsa", true, "tsaurl=%URL%\n",
         "-1#SSL peer certificate or SSH remote key was not OK [URL: %URL%]\n"},
        {"never answers", "silent", false, "tsaurl=%URL%\nhttptimeout=2\n", "-1#Timeout was reached [URL: %URL%]\n"},
        {"bad time-out", "tsa", false, "tsaurl=%URL%\nhttptimeout=soon\n",
         "-1#The httptimeout value soon is not a number of seconds between 1 and 86400.\n"},
        {"other scheme", nullptr, false, "tsaurl=file:///etc/hostname\n",
         "-1#Unsupported protocol [URL: file:///etc/hostname]\n"},
        {"no tsaurl", nullptr, false, "", "-1#TSA URL not set in config file.\n"},
    };
    qstest::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<LocalService> service;
        if (c.mode) service = std::make_unique<LocalService>(c.mode, service_options(c));
        const std::string url = service ? service->url(c.https ? "https" : "http") : "";
        const std::string out = dir.file("stamped.pdf");
        const auto started = std::chrono::steady_clock::now();
        const std::string line = run_cli({"-i", fixture("one-page.pdf"), "-o", out, "-z",
                                          write_conf(dir, replaced(c.conf, url)), "-q"}).out;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        const std::string expected = replaced(c.line, url);
        if (expected.back() == '\n') {
            EXPECT_EQ(line, expected);
            EXPECT_FALSE(qstest::file_exists(out));
        } else {
            ASSERT_EQ(line.rfind(expected, 0), 0u) << line;
            expect_valid(out);
            std::remove(out.c_str());
        }
        EXPECT_EQ(line.find("secret"), std::string::npos);
    }
}

TEST(Timestamp, ProxyCarriesTheExchange) {
    LocalService tsa("tsa"), proxy("proxy");
    qstest::TempDir dir;
    const std::string out = dir.file("proxied.pdf");
    const std::string conf = write_conf(
        dir, "tsaurl=" + tsa.url() + "\nproxyhost=127.0.0.1:" + std::to_string(proxy.port()) + "\n");
    const std::string line = run_cli({"-i", fixture("one-page.pdf"), "-o", out, "-z", conf, "-q"}).out;
    ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
    expect_valid(out);
    // The proxy was asked for the authority's URL, and the authority answered it.
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].path, tsa.url());
    EXPECT_EQ(tsa.requests().size(), 1u);
}

// The signature value of the first SignerInfo and its timeStampToken attribute.
struct Stamped {
    std::vector<unsigned char> signature_value;
    std::string token_der;
};

Stamped stamped_signature(const std::string &pdf) {
    Stamped s;
    FILE *f = std::fopen(pdf.c_str(), "rb");
    long range[4];
    int object = 0;
    char *inside = nullptr;
    long length = 0;
    EXPECT_EQ(qpdf_get_byte_range(f, "", range, &object), 0);
    EXPECT_EQ(get_internal_range(f, range[1], range[2], &inside, &length), 0);
    std::fclose(f);
    const auto der = qs::parse_hex_pairs(inside ? inside : "");
    std::free(inside);
    const unsigned char *cursor = der->data();
    qs::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der->size())));
    if (!cms) return s;
    CMS_SignerInfo *signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    const ASN1_OCTET_STRING *value = CMS_SignerInfo_get0_signature(signer);
    s.signature_value.assign(value->data, value->data + value->length);
    qs::Asn1ObjectPtr oid(OBJ_txt2obj("1.2.840.113549.1.9.16.2.14", 1));
    const int at = CMS_unsigned_get_attr_by_OBJ(signer, oid.get(), -1);
    if (at < 0) return s;
    ASN1_TYPE *token = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(signer, at), 0);
    if (token && token->type == V_ASN1_SEQUENCE)
        s.token_der.assign(reinterpret_cast<const char *>(token->value.sequence->data), token->value.sequence->length);
    return s;
}

std::string digest_hex(const std::vector<unsigned char> &bytes, const EVP_MD *md) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, md, nullptr);
    return qs::lower_hex(digest, length);
}

// The query as the authority received it: version 1, an imprint made with md
// and a NULL parameter, the certificate asked for, no nonce.
void expect_query_for(const std::string &body, const EVP_MD *md, const std::string &imprint_hex) {
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(body.data());
    qs::TsReqPtr query(d2i_TS_REQ(nullptr, &cursor, static_cast<long>(body.size())));
    ASSERT_TRUE(query);
    EXPECT_EQ(TS_REQ_get_version(query.get()), 1);
    EXPECT_EQ(TS_REQ_get_cert_req(query.get()), 1);
    EXPECT_EQ(TS_REQ_get_nonce(query.get()), nullptr);
    EXPECT_EQ(TS_REQ_get_policy_id(query.get()), nullptr);
    TS_MSG_IMPRINT *imprint = TS_REQ_get_msg_imprint(query.get());
    const X509_ALGOR *algorithm = TS_MSG_IMPRINT_get_algo(imprint);
    EXPECT_EQ(OBJ_obj2nid(algorithm->algorithm), EVP_MD_get_type(md));
    ASSERT_NE(algorithm->parameter, nullptr);
    EXPECT_EQ(algorithm->parameter->type, V_ASN1_NULL);
    const ASN1_OCTET_STRING *message = TS_MSG_IMPRINT_get_msg(imprint);
    EXPECT_EQ(qs::lower_hex(message->data, static_cast<std::size_t>(message->length)), imprint_hex);
}

void expect_token_answers_signature(const std::string &pdf, const qstest::TempDir &dir,
                                    const EVP_MD *md = EVP_sha256()) {
    const Stamped s = stamped_signature(pdf);
    ASSERT_FALSE(s.token_der.empty()) << "no timeStampToken attribute";
    qstest::write_file(dir.file("token.der"), s.token_der);
    const auto verified = run_shell("openssl ts -verify -token_in -in " + shell_quote(dir.file("token.der")) +
                                    " -digest " + digest_hex(s.signature_value, md) + " -CAfile " +
                                    shell_quote(fixture("ca.pem")) + " 2>&1");
    EXPECT_EQ(verified.status, 0) << verified.out;
    EXPECT_NE(verified.out.find("Verification: OK"), std::string::npos) << verified.out;
}

TEST(Timestamp, GrantedTokenAnswersTheSignatureOnBothRoutes) {
    LocalService tsa("tsa");
    qstest::TempDir dir;
    // The default placeholder holds the timestamped signature: no extrarange.
    const std::string conf = write_conf(dir, "tsaurl=" + tsa.url() + "\n");

    const std::string single = dir.file("single.pdf");
    const std::string line = run_cli({"-i", fixture("one-page.pdf"), "-o", single, "-z", conf, "-q"}).out;
    ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
    expect_valid(single);
    expect_token_answers_signature(single, dir);
    expect_query_for(tsa.last_body(), EVP_sha256(), digest_hex(stamped_signature(single).signature_value, EVP_sha256()));
    const auto request = tsa.requests().at(0);
    EXPECT_EQ(request.header("Content-Type"), "application/timestamp-query");

    const std::string in = dir.file("in"), out = dir.file("out");
    ASSERT_EQ(run_shell("mkdir " + in + " " + out + " && cp " + shell_quote(fixture("one-page.pdf")) + " " +
                        shell_quote(fixture("ten-pages.pdf")) + " " + in).status,
              0);
    const std::string lines = run_cli({"-i", in, "-o", out, "-z", conf, "-q"}).out;
    for (const char *name : {"one-page.pdf", "ten-pages.pdf"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(lines.find("0#Document signed: input[" + in + "/" + name), std::string::npos) << lines;
        expect_valid(out + "/" + name);
        expect_token_answers_signature(out + "/" + name, dir);
    }
    EXPECT_EQ(tsa.requests().size(), 3u);
}

// The imprint is made with the signature's own digest, SHA-1 never: every
// sub-filter and hash algorithm gets a token over its signature value that
// `openssl ts -verify` accepts.
TEST(Timestamp, ImprintFollowsTheSignatureDigest) {
    LocalService tsa("tsa");
    qstest::TempDir dir;
    struct Case {
        const char *subfilter, *hashalgo;
        const EVP_MD *imprint;
    } cases[] = {
        {"adbe.pkcs7.detached", "SHA1", EVP_sha256()},
        {"adbe.pkcs7.detached", "SHA384", EVP_sha384()},
        {"ETSI.CAdES.detached", "SHA512", EVP_sha512()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.subfilter) + " " + c.hashalgo);
        const std::string conf = write_conf(dir, "tsaurl=" + tsa.url() + "\nsubfilter=" + c.subfilter +
                                                     "\nhashalgo=" + c.hashalgo + "\n");
        const std::string out = dir.file("stamped.pdf");
        std::remove(out.c_str());
        const std::string line = run_cli({"-i", fixture("one-page.pdf"), "-o", out, "-z", conf, "-q"}).out;
        ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        expect_valid(out);
        expect_token_answers_signature(out, dir, c.imprint);
        expect_query_for(tsa.last_body(), c.imprint, digest_hex(stamped_signature(out).signature_value, c.imprint));
    }
}

// `quillseal timestamp` on each route: a file (signed or not, the output name
// derived), a folder in one process and with workers; encrypted documents and
// a configuration without an authority are refused with no output left.
TEST(Timestamp, DocumentTimestampOnEveryRoute) {
    LocalService tsa("tsa");
    qstest::TempDir dir;
    const std::string conf = write_conf(dir, "tsaurl=" + tsa.url() + "\n");
    const std::string signed_pdf = dir.file("signed.pdf"), encrypted = dir.file("encrypted.pdf");
    ASSERT_EQ(run_cli({"-i", fixture("one-page.pdf"), "-o", signed_pdf, "-z", conf}).out.rfind("0#", 0), 0u);
    ASSERT_EQ(run_shell("qpdf --encrypt '' owner 256 -- " + shell_quote(fixture("one-page.pdf")) + " " +
                        shell_quote(encrypted)).status,
              0);
    const std::string in = dir.file("in"), out = dir.file("out"), workers = dir.file("workers");
    ASSERT_EQ(run_shell("mkdir " + in + " " + out + " " + workers + " && cp " + shell_quote(fixture("one-page.pdf")) +
                        " " + shell_quote(fixture("ten-pages.pdf")) + " " + shell_quote(signed_pdf) + " " + in).status,
              0);
    const std::string derived = dir.file("signed-timestamped.pdf");
    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::vector<std::string> outputs;  // each holds a document timestamp that verifies
        std::string line;                  // the status lines, or their start when they end in "#"
    } cases[] = {
        {"signed file, output derived", {"-i", signed_pdf}, {derived},
         "0#Document timestamped: input[" + signed_pdf + "] output[" + derived + "]\n"},
        {"folder", {"-i", in, "-o", out}, {out + "/one-page.pdf", out + "/ten-pages.pdf", out + "/signed.pdf"}, "0#"},
        {"folder with workers", {"-i", in, "-o", workers, "-j", "0"},
         {workers + "/one-page.pdf", workers + "/ten-pages.pdf", workers + "/signed.pdf"}, "0#"},
        {"encrypted", {"-i", encrypted, "-o", dir.file("x.pdf")}, {},
         "-1#Encrypted input PDFs cannot be timestamped: decrypt the document first.\n"},
        {"no authority", {"-i", signed_pdf, "-o", dir.file("x.pdf"), "-z", qstest::write_signing_config(dir, "signer.p12", "", "none.conf")}, {},
         "-1#TSA URL not set in config file.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"timestamp"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (std::find(c.args.begin(), c.args.end(), "-z") == c.args.end()) args.insert(args.end(), {"-z", conf});
        const std::string lines = run_cli(args).out;
        if (c.line.back() == '#') {
            EXPECT_EQ(lines.find("-1#"), std::string::npos) << lines;
        } else {
            EXPECT_EQ(lines, c.line);
        }
        EXPECT_FALSE(qstest::file_exists(dir.file("x.pdf")));
        for (const std::string &pdf : c.outputs) {
            EXPECT_EQ(run_cli({"verify", "-i", pdf}).out,
                      "0#Document signature verified [Signer: Test Time-Stamping Authority]\n")
                << pdf;
            EXPECT_EQ(run_shell("qpdf --check " + shell_quote(pdf) + " >/dev/null 2>&1").status, 0) << pdf;
        }
    }
    // The signature under the document timestamp stays valid.
    EXPECT_NE(run_shell("pdfsig " + shell_quote(derived) + " 2>&1").out.find("Signature is Valid"), std::string::npos);
}

TEST(Timestamp, QueryFromDigestText) {
    qs::BioPtr diagnostics(BIO_new(BIO_s_mem()));
    bio_err = diagnostics.get();
    const std::string hex(40, 'a');
    struct Case { std::string text; int bytes; const char *diagnostic; } cases[] = {
        {hex, 20, ""},
        {"aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa", 20, ""},
        {hex.substr(2), 0, "bad digest, 20 bytes must be specified\n"},
        {hex + "aa", 0, "bad digest, 20 bytes must be specified\n"},
        {std::string(38, 'a') + "zz", 0, "bad digest, 20 bytes must be specified\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char *digest = nullptr;
        EXPECT_EQ(create_digest(c.text.c_str(), EVP_sha1(), &digest), c.bytes);
        if (c.bytes) {
            EXPECT_EQ(qs::lower_hex(digest, 20), hex);
        }
        std::free(digest);
        char *printed = nullptr;
        const long length = BIO_get_mem_data(diagnostics.get(), &printed);
        EXPECT_EQ(std::string(printed, static_cast<std::size_t>(length)), c.diagnostic);
        BIO_reset(diagnostics.get());
    }
    // No nonce: the same digest always gives the same query.
    auto der = [](const char *text) {
        qs::TsReqPtr query(create_query(text));
        unsigned char *bytes = nullptr;
        const int length = query ? i2d_TS_REQ(query.get(), &bytes) : 0;
        qs::OpensslBufferPtr owned(bytes);
        return std::string(reinterpret_cast<char *>(bytes), length > 0 ? length : 0);
    };
    EXPECT_FALSE(der(hex.c_str()).empty());
    EXPECT_EQ(der(hex.c_str()), der(hex.c_str()));
    EXPECT_TRUE(der("abc").empty());
    char *printed = nullptr;
    const long length = BIO_get_mem_data(diagnostics.get(), &printed);
    EXPECT_EQ(std::string(printed, static_cast<std::size_t>(length)),
              "bad digest, 20 bytes must be specified\ncould not create query\n");
    bio_err = nullptr;
}

}  // namespace
