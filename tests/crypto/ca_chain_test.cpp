#include <gtest/gtest.h>

#include <string>

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"

namespace {

using qstest::fixture;

std::string common_name(X509 *cert) {
    char text[256] = "";
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, text, sizeof text);
    return text;
}

TEST(CaChain, KeepsEveryCertificateInFileOrderAndSkipsKeys) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("chain.pem"), qstest::read_file(fixture("big-signer.key")) +
                                                  qstest::read_file(fixture("big-inter.pem")) +
                                                  qstest::read_file(fixture("big-root.pem")));
    qs::X509StackPtr chain(loadca(dir.file("chain.pem").c_str()));
    ASSERT_TRUE(chain);
    ASSERT_EQ(sk_X509_num(chain.get()), 2);
    EXPECT_EQ(common_name(sk_X509_value(chain.get(), 0)), "Big Intermediate");
    EXPECT_EQ(common_name(sk_X509_value(chain.get(), 1)), "Big Root");
}

TEST(CaChain, MissingOrCertificateFreeFilesGiveNoneWithDiagnostics) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("empty.pem"), "");
    qstest::write_file(dir.file("key.pem"), qstest::read_file(fixture("signer.key")));
    BIO *saved = bio_err;
    qs::BioPtr sink(BIO_new(BIO_s_mem()));
    bio_err = sink.get();
    EXPECT_EQ(loadca(dir.file("missing.pem").c_str()), nullptr);
    EXPECT_EQ(loadca(dir.file("empty.pem").c_str()), nullptr);
    EXPECT_EQ(loadca(dir.file("key.pem").c_str()), nullptr);
    bio_err = saved;
    char *text = nullptr;
    const long length = BIO_get_mem_data(sink.get(), &text);
    const std::string said(text, static_cast<size_t>(length));
    EXPECT_NE(said.find("error opening the file, " + dir.file("missing.pem") + "\n"), std::string::npos) << said;
    EXPECT_NE(said.find("no certificates in file, " + dir.file("key.pem") + "\n"), std::string::npos) << said;
    // Without a diagnostic stream nothing is written anywhere.
    EXPECT_EQ(loadca(dir.file("missing.pem").c_str()), nullptr);
}

}  // namespace
