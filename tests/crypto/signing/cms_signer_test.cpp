#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/crypto_support.h"
#include "crypto/hex.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::run_shell;
using qstest::shell_quote;

std::vector<unsigned char> digest_of(const std::string &name, const std::string &data) {
    unsigned char *raw = nullptr;
    unsigned int length = 0;
    EXPECT_EQ(message_digest(name.c_str(), reinterpret_cast<const unsigned char *>(data.data()),
                             static_cast<long>(data.size()), &raw, &length),
              0);
    std::vector<unsigned char> out(raw, raw + length);
    std::free(raw);
    return out;
}

// Signs and writes the DER signature to dir/sig.der; returns its hex text.
std::string sign_into(SigningConfig *config, const std::vector<unsigned char> &digest,
                      const qstest::TempDir &dir, int timestamp = 0) {
    char *raw = nullptr;
    const int rc = sign_bytes(config, digest.data(), static_cast<int>(digest.size()), timestamp, &raw);
    if (rc != 0) {
        EXPECT_EQ(raw, nullptr);
        return "";
    }
    std::string hex(raw);
    std::free(raw);
    const auto der = qs::parse_hex_pairs(hex);
    qstest::write_file(dir.file("sig.der"), std::string(der->begin(), der->end()));
    return hex;
}

std::string cms_print(const qstest::TempDir &dir) {
    return run_shell("openssl cms -cmsout -print -inform DER -in " + shell_quote(dir.file("sig.der"))).out;
}

int verify_detached(const qstest::TempDir &dir, const std::string &content) {
    return run_shell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                     shell_quote(fixture("ca.pem")) + " -in " + shell_quote(dir.file("sig.der")) +
                     " -content " + shell_quote(content) + " -out /dev/null 2>/dev/null")
        .status;
}

TEST(MessageDigest, KnownNamesAndTheUnknownOne) {
    EXPECT_EQ(qs::lower_hex(digest_of("SHA256", "abc").data(), 32),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (const char *name : {"SHA1", "SHA224", "SHA384", "SHA512"}) EXPECT_FALSE(digest_of(name, "x").empty());
    unsigned char *raw = reinterpret_cast<unsigned char *>(1);
    unsigned int length = 9;
    message();
    EXPECT_EQ(message_digest("NOPE", nullptr, 0, &raw, &length), -1);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(message(), "Unknown message digest NOPE\n");
}

TEST(DetachedLayout, EveryHashCarriesExactlyItsSignedAttributes) {
    qstest::TempDir dir;
    const std::string content = "the signed byte ranges\n";
    qstest::write_file(dir.file("content.bin"), content);
    struct Case { const char *hash, *algorithm; } cases[] = {
        {"SHA1", "sha1"}, {"SHA224", "sha224"}, {"SHA256", "sha256"}, {"SHA384", "sha384"}, {"SHA512", "sha512"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hash);
        Config config = pkcs12_config("signer.p12", c.hash);
        ASSERT_FALSE(sign_into(config.get(), digest_of(c.hash, content), dir).empty()) << message();
        // Verification against the content proves messageDigest is the digest of the ranges.
        EXPECT_EQ(verify_detached(dir, dir.file("content.bin")), 0);
        const std::string printed = cms_print(dir);
        EXPECT_NE(printed.find("eContent: <ABSENT>"), std::string::npos);
        EXPECT_NE(printed.find("object: messageDigest"), std::string::npos);
        EXPECT_NE(printed.find("object: contentType"), std::string::npos);
        EXPECT_NE(printed.find("object: signingTime"), std::string::npos);
        EXPECT_EQ(printed.find("S/MIME Capabilities"), std::string::npos);
        EXPECT_NE(printed.find(std::string("algorithm: ") + c.algorithm + " "), std::string::npos);
        // Signer certificate and chain are both in the certificate set.
        EXPECT_NE(printed.find("CN=Test Signer"), std::string::npos);
        EXPECT_NE(printed.find("CN=Quillseal Test Root CA"), std::string::npos);
    }
}

TEST(DetachedLayout, EcdsaLegacyAndBase64StoresSign) {
    qstest::TempDir dir;
    const std::string content = "ranges";
    qstest::write_file(dir.file("content.bin"), content);
    Config ec = pkcs12_config("ec-signer.p12");
    ASSERT_FALSE(sign_into(ec.get(), digest_of("SHA256", content), dir).empty()) << message();
    EXPECT_EQ(verify_detached(dir, dir.file("content.bin")), 0);
    EXPECT_NE(cms_print(dir).find("ecdsa-with-SHA256"), std::string::npos);

    Config legacy = pkcs12_config("signer-legacy.p12");
    ASSERT_FALSE(sign_into(legacy.get(), digest_of("SHA256", content), dir).empty()) << message();
    EXPECT_EQ(verify_detached(dir, dir.file("content.bin")), 0);

    Config data = pkcs12_config();
    set_certfile(data.get(), base64_of(fixture("signer.p12"), false));
    data->certfiledata = 1;
    ASSERT_FALSE(sign_into(data.get(), digest_of("SHA256", content), dir).empty()) << message();
    EXPECT_EQ(verify_detached(dir, dir.file("content.bin")), 0);
}

TEST(EncapsulatedLayout, Sha1FilterEncapsulatesTheDigestItself) {
    qstest::TempDir dir;
    Config config = pkcs12_config("signer.p12", "SHA1", "/adbe.pkcs7.sha1");
    const auto digest = digest_of("SHA1", "document bytes");
    ASSERT_FALSE(sign_into(config.get(), digest, dir).empty()) << message();
    const auto r = run_shell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                             shell_quote(fixture("ca.pem")) + " -in " + shell_quote(dir.file("sig.der")) +
                             " -out " + shell_quote(dir.file("content.out")) + " 2>/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(qstest::read_file(dir.file("content.out")), std::string(digest.begin(), digest.end()));
    EXPECT_NE(cms_print(dir).find("S/MIME Capabilities"), std::string::npos);
}

TEST(Refusals, SubFilterAndHashThatDoNotFit) {
    qstest::TempDir dir;
    const std::vector<unsigned char> digest(32, 7);
    struct Case { const char *hash, *filter, *text; } cases[] = {
        {"SHA256", "/adbe.pkcs7.sha1",
         "The subfilter /adbe.pkcs7.sha1 requires hash algorithm SHA1! The hash algorithm configured is SHA256..."},
        {"SHA1", "/adbe.x509.rsa.sha1", "Signatures for subFilter /adbe.x509.rsa.sha1 not supported yet..."},
        {"SHA256", "/other.filter",
         "The subfilter /other.filter is not consistent with the hash algorithm chosen or the hash provided!"}};
    for (const auto &c : cases) {
        Config config = pkcs12_config("signer.p12", c.hash, c.filter);
        message();
        EXPECT_EQ(sign_into(config.get(), digest, dir), "");
        EXPECT_EQ(message(), c.text);
    }
}

TEST(Refusals, KeyStoreProblemsAndMissingServices) {
    qstest::TempDir dir;
    const std::vector<unsigned char> digest(32, 1);
    Config wrong = pkcs12_config();
    set(wrong->certpasswd, "wrong");
    message();
    EXPECT_EQ(sign_into(wrong.get(), digest, dir), "");
    EXPECT_EQ(message(), "Unable to parse pkcs12; problem with key store or password");

    Config device = pkcs12_config();
    set(device->certstore, "PKCS11 SECURITY DEVICE");
    set(device->signerpem, fixture("signer.pem"));
    set(device->capem, fixture("ca.pem"));
    EXPECT_EQ(sign_into(device.get(), digest, dir), "");
    EXPECT_EQ(message(), "Error loading PKCS#11 engine.");
}

std::string encapsulated_content(const qstest::TempDir &dir, const char *hex) {
    const std::string conf = write_conf(dir, "hashalgo=SHA1\nsubfilter=adbe.pkcs7.sha1\n");
    char *raw = nullptr;
    EXPECT_EQ(sign_hash(conf.c_str(), hex, 0, &raw), 0) << message();
    if (!raw) return "<none>";
    const auto der = qs::parse_hex_pairs(raw);
    std::free(raw);
    qstest::write_file(dir.file("h.der"), std::string(der->begin(), der->end()));
    run_shell("openssl cms -verify -noverify -inform DER -binary -in " + shell_quote(dir.file("h.der")) +
              " -out " + shell_quote(dir.file("h.out")) + " 2>/dev/null");
    return qstest::read_file(dir.file("h.out"));
}

TEST(SignHash, ReadsTheHexTextInPairs) {
    qstest::TempDir dir;
    EXPECT_EQ(encapsulated_content(dir, "aB0f"), std::string("\xab\x0f"));
    EXPECT_EQ(encapsulated_content(dir, "7f1"), std::string("\x7f"));
}

TEST(SignHash, RefusesTimestampWithoutTsaAndNonHexText) {
    qstest::TempDir dir;
    const std::string conf = write_conf(dir, "");
    char *raw = nullptr;
    message();
    EXPECT_EQ(sign_hash(conf.c_str(), "00112233", 1, &raw), -1);
    EXPECT_EQ(message(), "TSA URL not set in config file.");
    EXPECT_EQ(sign_hash(conf.c_str(), "zz112233", 0, &raw), -1);
    EXPECT_EQ(message(), "The digest is not a hexadecimal text.");
    EXPECT_EQ(raw, nullptr);
}

}  // namespace
