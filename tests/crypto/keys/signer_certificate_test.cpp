#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "crypto/crypto_support.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::run_shell;
using qstest::shell_quote;

std::string name_of(const std::string &subject) {
    char name[256] = "x";
    EXPECT_EQ(get_x509_subject_name(subject.c_str(), name), 0);
    return name;
}

TEST(DisplayName, FollowsTheFixedAttributeOrder) {
    EXPECT_EQ(name_of("/O=Example/CN=Jane Doe"), "Jane Doe");
    EXPECT_EQ(name_of("/GN=Jane/SN=Doe/O=Example"), "Jane Doe");
    EXPECT_EQ(name_of("/GN=Jane/O=Example"), "Jane");
    EXPECT_EQ(name_of("/SN=Doe/O=Example"), "Example");
    EXPECT_EQ(name_of("/OU=Unit"), "Unit");
    EXPECT_EQ(name_of("/emailAddress=a@b.example/O=Org"), "a@b.example");
    EXPECT_EQ(name_of("/C=DE/L=Berlin"), "");
    EXPECT_EQ(name_of(""), "");
}

TEST(SubjectComponent, RetriesLowerAndUpperCaseAndStopsAtSeparators) {
    char value[256] = "stale";
    EXPECT_EQ(get_x509_subject_component("/o=Org/cn=jane", value, "CN"), 0);
    EXPECT_STREQ(value, "jane");
    EXPECT_EQ(get_x509_subject_component("/EMAILADDRESS=x@y", value, "emailAddress"), 0);
    EXPECT_STREQ(value, "x@y");
    EXPECT_EQ(get_x509_subject_component("CN=Jane, O=Org", value, "CN"), 0);
    EXPECT_STREQ(value, "Jane");
    EXPECT_EQ(get_x509_subject_component("/O=Org", value, "CN"), -1);
    EXPECT_STREQ(value, "");
}

TEST(SubjectComponent, LongValueIsCutToTheField) {
    const std::string subject = "/CN=" + std::string(400, 'n');
    char value[256];
    EXPECT_EQ(get_x509_subject_component(subject.c_str(), value, "CN"), 0);
    EXPECT_EQ(std::string(value), std::string(255, 'n'));
}

std::string openssl_serial(const std::string &pem) {
    std::string out = run_shell("openssl x509 -noout -serial -in " + shell_quote(pem)).out;
    out = out.substr(out.find('=') + 1);
    return out.substr(0, out.find('\n'));
}

TEST(SignerCertificate, SubjectAndSerialFromPkcs12File) {
    handle_error_message(nullptr, 0);
    char subject[512], serial[256];
    ASSERT_EQ(get_x509_subject_and_sn(0, fixture("signer.p12").c_str(), "demo-pass", "",
                                      "PKCS12 KEYSTORE FILE", subject, serial),
              0)
        << message();
    EXPECT_STREQ(subject,
                 "/C=DE/ST=Berlin/L=Berlin/O=Quillseal Test/OU=Signing/CN=Test Signer/"
                 "emailAddress=signer@example.com");
    EXPECT_EQ(serial, openssl_serial(fixture("signer.pem")));
}

TEST(SignerCertificate, StoreFromBase64TextOnOneLineOrInLines) {
    for (bool one_line : {true, false}) {
        const std::string data = base64_of(fixture("signer.p12"), one_line);
        ASSERT_EQ(data.find('\n') == std::string::npos, one_line);
        char subject[512], serial[256];
        EXPECT_EQ(get_x509_subject_and_sn(1, data.c_str(), "demo-pass", "", "PKCS12 KEYSTORE FILE",
                                          subject, serial),
                  0)
            << message();
        EXPECT_NE(std::string(subject).find("/CN=Test Signer/"), std::string::npos);
    }
}

TEST(SignerCertificate, LegacyStoreLoadsThroughTheLegacyProvider) {
    char subject[512], serial[256];
    ASSERT_EQ(get_x509_subject_and_sn(0, fixture("signer-legacy.p12").c_str(), "demo-pass", "",
                                      "PKCS12 KEYSTORE FILE", subject, serial),
              0)
        << message();
    EXPECT_EQ(serial, openssl_serial(fixture("signer.pem")));
}

TEST(SignerCertificate, BadStoresAreRefusedWithTheirMessages) {
    char subject[512], serial[256];
    const std::string parse = "Unable to parse pkcs12; problem with key store or password";
    message();
    EXPECT_EQ(get_x509_subject_and_sn(0, fixture("signer.p12").c_str(), "wrong", "", "PKCS12 KEYSTORE FILE",
                                      subject, serial),
              -1);
    EXPECT_EQ(message(), parse);
    EXPECT_EQ(get_x509_subject_and_sn(0, fixture("signer.pem").c_str(), "demo-pass", "",
                                      "PKCS12 KEYSTORE FILE", subject, serial),
              -1);
    EXPECT_EQ(message(), parse);
    EXPECT_EQ(get_x509_subject_and_sn(1, "bm90IGEgc3RvcmU=", "demo-pass", "", "PKCS12 KEYSTORE FILE",
                                      subject, serial),
              -1);
    EXPECT_EQ(message(), parse);
    EXPECT_EQ(get_x509_subject_and_sn(0, "/nonexistent/store.p12", "demo-pass", "", "PKCS12 KEYSTORE FILE",
                                      subject, serial),
              -1);
    EXPECT_EQ(message(), "No such file or directory [File: /nonexistent/store.p12]");
}

TEST(SignerCertificate, DeviceCertificateComesFromSignerPem) {
    char subject[512], serial[256];
    ASSERT_EQ(get_x509_subject_and_sn(0, nullptr, "", fixture("ec-signer.pem").c_str(),
                                      "PKCS11 SECURITY DEVICE", subject, serial),
              0);
    EXPECT_STREQ(subject, "/C=DE/O=Quillseal Test/CN=EC Signer");
    message();
    EXPECT_EQ(get_x509_subject_and_sn(0, nullptr, "", fixture("ec-signer.key").c_str(),
                                      "PKCS11 SECURITY DEVICE", subject, serial),
              -1);
    EXPECT_EQ(message(), "Problem reading signer certificate from " + fixture("ec-signer.key") + " file");
}

// Certificates made here for subject and serial shapes the fixtures lack;
// "myAttr" is an attribute type only the request's own configuration names.
std::string make_cert(const qstest::TempDir &dir, const std::string &serial, const std::string &subject) {
    const std::string pem = dir.file("c" + serial + ".pem"), conf = dir.file("req.cnf");
    qstest::write_file(conf, "oid_section=new_oids\n[new_oids]\nmyAttr=1.2.3.4.5\n"
                             "[req]\ndistinguished_name=dn\n[dn]\n");
    run_shell("openssl req -config " + shell_quote(conf) +
              " -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
              shell_quote(dir.file("k.pem")) + " -out " + shell_quote(pem) + " -days 2 -set_serial " + serial +
              " -subj " + shell_quote(subject) + " 2>/dev/null");
    return qstest::read_file(pem);
}

TEST(SignerCertificate, SerialTextIsWholeUppercaseBytes) {
    qstest::TempDir dir;
    struct Case { const char *serial, *text; } cases[] = {{"0x01AB", "01AB"}, {"0", "0"}, {"0xabcdef12", "ABCDEF12"}};
    for (const auto &c : cases) {
        const std::string pem = make_cert(dir, c.serial, "/CN=Serial");
        ASSERT_FALSE(pem.empty());
        char *name = nullptr, *serial = nullptr;
        ASSERT_EQ(get_signer_info_from_pem_certificate(pem.c_str(), &name, &serial), 0) << message();
        EXPECT_STREQ(serial, c.text);
        EXPECT_STREQ(name, "Serial");
        std::free(name);
        std::free(serial);
    }
}

TEST(SignerCertificate, UnknownAttributeAppearsUnderTheUndefinedName) {
    qstest::TempDir dir;
    const std::string pem = make_cert(dir, "7", "/myAttr=custom/O=Org");
    qstest::write_file(dir.file("u.pem"), pem);
    char subject[512], serial[256];
    ASSERT_EQ(get_x509_subject_and_sn(0, nullptr, "", dir.file("u.pem").c_str(), "PKCS11 SECURITY DEVICE",
                                      subject, serial),
              0);
    EXPECT_STREQ(subject, "/UNDEF=custom/O=Org");
}

TEST(SignerCertificate, AttributeBeyondTheSubjectBufferIsLeftOutAndTheRestKept) {
    qstest::TempDir dir;
    std::string subject_in;  // seven "/OU=" values of 64 characters each fill 448 of 511
    for (char c : std::string("abcdefg")) subject_in += "/OU=" + std::string(60, c);
    subject_in += "/OU=" + std::string(60, 'h') + "/CN=Short Name";  // 64 more would not fit; CN does
    const std::string pem = make_cert(dir, "9", subject_in);
    ASSERT_FALSE(pem.empty());
    qstest::write_file(dir.file("long.pem"), pem);
    char subject[512], serial[256];
    ASSERT_EQ(get_x509_subject_and_sn(0, nullptr, "", dir.file("long.pem").c_str(), "PKCS11 SECURITY DEVICE",
                                      subject, serial),
              0);
    EXPECT_EQ(std::string(subject).find("hhhh"), std::string::npos);
    EXPECT_NE(std::string(subject).find("/OU=ggg"), std::string::npos);
    EXPECT_EQ(name_of(subject), "Short Name");
}

TEST(SignerInfo, FromPemTextRefusesTextWithoutCertificate) {
    char *name = reinterpret_cast<char *>(1), *serial = reinterpret_cast<char *>(1);
    message();
    EXPECT_EQ(get_signer_info_from_pem_certificate("no certificate here", &name, &serial), -1);
    EXPECT_EQ(message(), "Problem reading signer certificate from stream...");
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(serial, nullptr);
}

TEST(SignerInfo, InternalHandsOutBuffersEvenOnFailure) {
    Config config = pkcs12_config();
    char *name = nullptr, *serial = nullptr;
    ASSERT_EQ(get_signer_info_internal(config.get(), &name, &serial), 0) << message();
    EXPECT_STREQ(name, "Test Signer");
    EXPECT_EQ(serial, openssl_serial(fixture("signer.pem")));
    std::free(name);
    std::free(serial);

    set(config->certpasswd, "wrong");
    name = serial = nullptr;
    EXPECT_EQ(get_signer_info_internal(config.get(), &name, &serial), -1);
    ASSERT_NE(name, nullptr);
    ASSERT_NE(serial, nullptr);
    EXPECT_STREQ(name, "");
    std::free(name);
    std::free(serial);
}

TEST(SignerInfo, ThroughAConfigurationFile) {
    qstest::TempDir dir;
    char stored[600];
    ASSERT_EQ(encrypt_password("demo-pass", stored), 0);
    qstest::write_file(dir.file("q.conf"), "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + fixture("ec-signer.p12") +
                                               "\ncertpasswd=" + stored + "\n");
    SigningConfig *read = nullptr;
    EXPECT_EQ(read_config(dir.file("q.conf").c_str(), &read), 0) << message();
    free_config(read);
    char *name = nullptr, *serial = nullptr;
    ASSERT_EQ(get_signer_info(dir.file("q.conf").c_str(), &name, &serial), 0) << message();
    EXPECT_STREQ(name, "EC Signer");
    EXPECT_EQ(serial, openssl_serial(fixture("ec-signer.pem")));
    std::free(name);
    std::free(serial);
}

}  // namespace
