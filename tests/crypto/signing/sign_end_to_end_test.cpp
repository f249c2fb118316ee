// Whole signatures through the real program and the library's driver,
// checked with pdfsig, qpdf and openssl.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "crypto/crypto_support.h"
#include "crypto/hex.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;

const char *const kKinds[] = {"one-page.pdf", "ten-pages.pdf", "objstm.pdf",   "linearized.pdf", "classic.pdf",
                              "noinfo.pdf",   "eof-bare.pdf",  "eof-crlf.pdf", "eof-cr.pdf",     "eof-trailing.pdf"};

void expect_valid(const std::string &signed_pdf) {
    const auto sig = run_shell("pdfsig " + shell_quote(signed_pdf) + " 2>&1");
    EXPECT_NE(sig.out.find("Signature is Valid"), std::string::npos) << sig.out;
    EXPECT_NE(sig.out.find("Total document signed"), std::string::npos) << sig.out;
    const auto check = run_shell("qpdf --check " + shell_quote(signed_pdf) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
}

std::string sign_cli(const std::string &input, const std::string &output, const std::string &conf,
                     const std::vector<std::string> &more = {}) {
    std::vector<std::string> args = {"-i", input, "-o", output, "-z", conf};
    args.insert(args.end(), more.begin(), more.end());
    return run_cli(args).out;
}

TEST(EndToEnd, EveryDocumentKindSignsAndVerifies) {
    qstest::TempDir dir;
    const std::string conf = write_conf(dir, "");
    for (const char *kind : kKinds) {
        SCOPED_TRACE(kind);
        const std::string before = qstest::read_file(fixture(kind));
        const std::string out = dir.file(std::string("signed-") + kind);
        const std::string line = sign_cli(fixture(kind), out, conf);
        ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        expect_valid(out);
        EXPECT_EQ(qstest::read_file(fixture(kind)), before);
        // The signed file starts with the unchanged input.
        EXPECT_EQ(qstest::read_file(out).compare(0, before.size(), before), 0);
    }
}

TEST(EndToEnd, CertifyingSignatureAndOtherKeys) {
    qstest::TempDir dir;
    struct Case { const char *store; std::vector<std::string> flags; } cases[] = {
        {"signer.p12", {"-c", "-r", "Approved", "-l", "Berlin"}},
        {"ec-signer.p12", {}},
        {"signer-legacy.p12", {}},
        {"self.p12", {}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.store);
        const std::string conf = write_conf(dir, "", c.store);
        const std::string out = dir.file(std::string("out-") + c.store + ".pdf");
        const std::string line = sign_cli(fixture("ten-pages.pdf"), out, conf, c.flags);
        ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        expect_valid(out);
    }
}

// The signature of a signed file: its DER bytes and the bytes of the two ranges.
void extract(const std::string &pdf, const qstest::TempDir &dir) {
    FILE *f = std::fopen(pdf.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    long range[4];
    int object = 0;
    ASSERT_EQ(qpdf_get_byte_range(f, "", range, &object), 0) << message();
    unsigned char *outside = nullptr;
    long length = 0;
    ASSERT_EQ(get_external_range(f, range[1], range[2], range[3], &outside, &length), 0);
    qstest::write_file(dir.file("ranges.bin"), std::string(reinterpret_cast<char *>(outside), length));
    std::free(outside);
    char *inside = nullptr;
    ASSERT_EQ(get_internal_range(f, range[1], range[2], &inside, &length), 0);
    const auto der = qs::parse_hex_pairs(inside);
    std::free(inside);
    qstest::write_file(dir.file("sig.der"), std::string(der->begin(), der->end()));
    std::fclose(f);
}

TEST(EndToEnd, DetachedAttributesForEveryHash) {
    qstest::TempDir dir;
    for (const char *hash : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
        SCOPED_TRACE(hash);
        const std::string out = dir.file(std::string("h-") + hash + ".pdf");
        const std::string line =
            sign_cli(fixture("one-page.pdf"), out, write_conf(dir, std::string("hashalgo=") + hash + "\n"));
        ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        // pdfsig knows no SHA-224 ("Unrecognized Hash ID"); openssl checks that one below.
        if (std::string(hash) != "SHA224")
            expect_valid(out);
        else
            EXPECT_EQ(run_shell("qpdf --check " + shell_quote(out) + " >/dev/null 2>&1").status, 0);
        extract(out, dir);
        // messageDigest equals the digest of the ranges: the detached verification checks exactly that.
        const auto verified = run_shell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                                        shell_quote(fixture("ca.pem")) + " -in " + shell_quote(dir.file("sig.der")) +
                                        " -content " + shell_quote(dir.file("ranges.bin")) + " -out /dev/null 2>&1");
        EXPECT_EQ(verified.status, 0) << verified.out;
        const std::string printed =
            run_shell("openssl cms -cmsout -print -inform DER -in " + shell_quote(dir.file("sig.der"))).out;
        for (const char *attribute : {"object: messageDigest", "object: contentType", "object: signingTime"})
            EXPECT_NE(printed.find(attribute), std::string::npos) << attribute;
    }
}

TEST(EndToEnd, EncapsulatedSha1Layout) {
    qstest::TempDir dir;
    // The encapsulated layout carries the digest and the capabilities attribute
    // as well, which overflowed the bare 5000-digit base with this chain: the
    // placeholder is measured for them, with no extrarange.
    const std::string conf = write_conf(dir, "hashalgo=SHA1\nsubfilter=adbe.pkcs7.sha1\n");
    const std::string out = dir.file("sha1.pdf");
    const std::string line = sign_cli(fixture("one-page.pdf"), out, conf);
    ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
    EXPECT_EQ(run_shell("qpdf --check " + shell_quote(out) + " >/dev/null 2>&1").status, 0);
    extract(out, dir);
    run_shell("openssl cms -verify -inform DER -binary -purpose any -CAfile " + shell_quote(fixture("ca.pem")) +
              " -in " + shell_quote(dir.file("sig.der")) + " -out " + shell_quote(dir.file("content")) + " 2>/dev/null");
    const std::string ranges = qstest::read_file(dir.file("ranges.bin"));
    unsigned char *digest = nullptr;
    unsigned int length = 0;
    ASSERT_EQ(message_digest("SHA1", reinterpret_cast<const unsigned char *>(ranges.data()),
                             static_cast<long>(ranges.size()), &digest, &length),
              0);
    EXPECT_EQ(qstest::read_file(dir.file("content")), std::string(reinterpret_cast<char *>(digest), length));
    std::free(digest);
    const auto sig = run_shell("pdfsig " + shell_quote(out) + " 2>&1");
    // This pdfsig compares the digest of the ranges with messageDigest directly and
    // does not open the encapsulated digest, so its verdict here is "Digest Mismatch";
    // the openssl checks above establish the layout.
    EXPECT_NE(sig.out.find("adbe.pkcs7.sha1"), std::string::npos) << sig.out;
    EXPECT_NE(sig.out.find("Total document signed"), std::string::npos) << sig.out;
}

struct Refusal {
    const char *name, *extra, *store;
    std::vector<std::string> flags;
    const char *line;
};

TEST(EndToEnd, RefusalsThroughTheProgramLeaveNoOutput) {
    qstest::TempDir dir;
    const Refusal cases[] = {
        {"sha256 with the sha1 filter", "subfilter=adbe.pkcs7.sha1\n", "signer.p12", {},
         "-1#The subfilter /adbe.pkcs7.sha1 requires hash algorithm SHA1! The hash algorithm configured is SHA256...\n"},
        {"x509 filter", "hashalgo=SHA1\nsubfilter=adbe.x509.rsa.sha1\n", "signer.p12", {},
         "-1#Signatures for subFilter /adbe.x509.rsa.sha1 not supported yet...\n"},
        {"not a key store", "", "signer.pem", {},
         "-1#Unable to parse pkcs12; problem with key store or password\n"},
        // The room is measured from the chain; a negative extrarange takes from it.
        {"big chain in a room made smaller", "extrarange=-3000\n", "big-signer.p12", {}, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string conf = write_conf(dir, c.extra, c.store);
        const std::string out = dir.file("refused.pdf");
        const std::string line = sign_cli(fixture("one-page.pdf"), out, conf, c.flags);
        if (c.line)
            EXPECT_EQ(line, c.line);
        else
            EXPECT_EQ(line.rfind("-1#Byte range underestimated... add extrarange=", 0), 0u) << line;
        EXPECT_FALSE(qstest::file_exists(out));
    }
}

// The advice is added to the value already configured.
TEST(EndToEnd, ExtraRangeAdviceMakesTheBigChainFit) {
    qstest::TempDir dir;
    const std::string out = dir.file("big.pdf");
    const int shrunk = -3000;
    std::string line = sign_cli(fixture("one-page.pdf"), out,
                                write_conf(dir, "extrarange=" + std::to_string(shrunk) + "\n", "big-signer.p12"));
    const std::string prefix = "-1#Byte range underestimated... add extrarange=";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const int advice = std::atoi(line.c_str() + prefix.size());
    EXPECT_GT(advice, 0);
    EXPECT_EQ(advice % 100, 0);
    line = sign_cli(fixture("one-page.pdf"), out,
                    write_conf(dir, "extrarange=" + std::to_string(shrunk + advice) + "\n", "big-signer.p12"));
    ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
    const auto sig = run_shell("pdfsig " + shell_quote(out) + " 2>&1");
    EXPECT_NE(sig.out.find("Total document signed"), std::string::npos) << sig.out;
    EXPECT_EQ(run_shell("qpdf --check " + shell_quote(out) + " >/dev/null 2>&1").status, 0);
}

}  // namespace
