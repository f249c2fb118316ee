// What a signature covers: the input is hashed as it is copied into the
// output, never read back, so the digest signed must still be the digest of
// the output's signed ranges as they stand in the file; and an input that
// changes while it is signed is refused, with no output. Through the real
// program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"
#include "crypto/local_service.h"
#include "crypto/revocation_service.h"

namespace {

using cryptotest::RevocationService;
using qstest::fixture;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

// SHA-256 of the signed ranges of pdf, read from the file as it stands.
std::string digest_of_ranges(const std::string &pdf) {
    qs::FilePtr file(std::fopen(pdf.c_str(), "rb"));
    long range[4];
    int object = 0;
    if (!file || qpdf_get_byte_range(file.get(), "", range, &object) < 0) return "no byte range";
    const std::string bytes = qstest::read_file(pdf);
    const std::string signed_bytes = bytes.substr(0, static_cast<std::size_t>(range[1])) +
                                     bytes.substr(static_cast<std::size_t>(range[2]), static_cast<std::size_t>(range[3]));
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(signed_bytes.data(), signed_bytes.size(), out, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char *>(out), length);
}

std::string octets(const ASN1_OCTET_STRING *value) {
    return value ? std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value)),
                               static_cast<std::size_t>(ASN1_STRING_length(value)))
                 : std::string("none");
}

// The digest the newest signature of pdf vouches for: a CMS signature's
// messageDigest attribute, or a document timestamp's message imprint.
std::string signed_digest(const std::string &pdf, bool document_timestamp) {
    const std::string der = cryptotest::newest_signature_der(pdf);
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    if (document_timestamp) {
        qs::Pkcs7Ptr token(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
        TS_TST_INFO *info = token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr;
        const std::string value = info ? octets(TS_MSG_IMPRINT_get_msg(TS_TST_INFO_get_msg_imprint(info))) : "none";
        TS_TST_INFO_free(info);
        return value;
    }
    qs::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    STACK_OF(CMS_SignerInfo) *signers = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    CMS_SignerInfo *signer = signers ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
    return signer ? octets(static_cast<ASN1_OCTET_STRING *>(CMS_signed_get0_data_by_OBJ(
                        signer, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING)))
                  : "none";
}

TEST(SignedBytes, TheDigestSignedIsThatOfTheOutputAsWritten) {
    TempDir dir;
    qstest::LocalService tsa("tsa");
    const std::string conf = qstest::write_signing_config(dir, "signer.p12", "tsaurl=" + tsa.url() + "\n");
    const std::string large = dir.file("large.pdf");  // hashed beside the copy
    ASSERT_EQ(run_shell("bash " + shell_quote(std::string(QS_SOURCE_DIR) + "/bench/make_pdf.sh") + " " +
                        shell_quote(large) + " 6000000").status, 0);
    for (const std::string &input : {fixture("one-page.pdf"), large})
        for (const bool document_timestamp : {false, true}) {
            SCOPED_TRACE(input + (document_timestamp ? ", document timestamp" : ", signature"));
            const std::string out = dir.file(document_timestamp ? "stamped.pdf" : "signed.pdf");
            std::vector<std::string> args = {"-i", input, "-o", out, "-z", conf};
            if (document_timestamp) args.insert(args.begin(), "timestamp");
            const std::string line = run_cli(args).out;
            ASSERT_EQ(line.rfind("0#Document", 0), 0u) << line;
            EXPECT_EQ(signed_digest(out, document_timestamp), digest_of_ranges(out));
            EXPECT_EQ(qstest::read_file(out).compare(0, qstest::read_file(input).size(), qstest::read_file(input)), 0);
            // pdfsig validates signatures, and shows what a document timestamp covers.
            const auto sig = run_shell("pdfsig " + shell_quote(out) + " 2>&1");
            EXPECT_NE(sig.out.find(document_timestamp ? "Total document signed" : "Signature is Valid"),
                      std::string::npos) << sig.out;
            std::remove(out.c_str());
        }
}

// The input is changed while the program waits for the signer's OCSP status
// (the responder answers after two seconds): after the program has opened it,
// before it is copied.
TEST(SignedBytes, AnInputThatChangesWhileItIsSignedIsRefused) {
    RevocationService pki(false, {"--latency", "2"});
    char stored[600];
    encrypt_password(qstest::kStorePassword, stored);
    const std::string page = qstest::read_file(fixture("one-page.pdf"));
    const struct {
        const char *name;
        std::string command;  // run on the input while the program waits
        std::string line;
    } cases[] = {
        {"truncated", "truncate -s 100 in.pdf",
         "-1#The input document changed while it was being signed: it had " + std::to_string(page.size()) +
             " bytes and now has 100.\n"},
        {"grown", "echo ' extra' >> in.pdf",
         "-1#The input document changed while it was being signed: it had " + std::to_string(page.size()) +
             " bytes and now has " + std::to_string(page.size() + 7) + ".\n"},
        {"rewritten in place", "printf '%%PDF-1.9' | dd of=in.pdf conv=notrunc status=none",
         "-1#The input document changed while it was being signed: another process wrote to it.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        qstest::write_file(dir.file("in.pdf"), page);
        mkdir(dir.file("out").c_str(), 0755);
        mkdir(dir.file("cache").c_str(), 0755);  // empty: the status is fetched
        const std::string conf = dir.file("q.conf");
        qstest::write_file(conf, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + pki.file("signer.p12") +
                                     "\ncertpasswd=" + stored + "\nextrarange=6000\ncachedir=" + dir.file("cache") + "\n");
        const int before = pki.requests_to("/ocsp/inter");
        std::string line;
        std::thread signing([&] { line = run_cli({"-i", dir.file("in.pdf"), "-o", dir.file("out/signed.pdf"), "-z", conf}).out; });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (pki.requests_to("/ocsp/inter") == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(run_shell("cd " + shell_quote(dir.path()) + " && " + c.command).status, 0);
        signing.join();
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(run_shell("ls -A " + shell_quote(dir.file("out"))).out, "");
    }
}

}  // namespace
