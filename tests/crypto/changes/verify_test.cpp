// Verification of hand-built signed documents: what verifies, and every way a
// damaged or foreign file must fail with a clear message instead of a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "crypto/changes/signed_ranges.h"
#include "crypto/changes/verifier.h"
#include "crypto/changes/verify_documents.h"
#include "support/support.h"

namespace {

using qstest::HandSigned;

struct Outcome {
    int rc;
    std::string message;
};

std::string fetch() {
    char text[256] = "";
    handle_error_message(text, 0);
    return text;
}

Outcome verify_file(const std::string &path) {
    fetch();
    const int rc = verify_internal(path.c_str(), nullptr);
    return {rc, fetch()};
}

class VerifyHandBuilt : public ::testing::Test {
protected:
    Outcome verify_bytes(const std::string &bytes) {
        qstest::write_file(path, bytes);
        return verify_file(path);
    }
    qstest::TempDir dir;
    std::string path = dir.file("doc.pdf");
};

TEST_F(VerifyHandBuilt, DetachedSignaturesVerifyAndNameTheSigner) {
    const Outcome rsa = verify_bytes(qstest::signed_document().bytes);
    EXPECT_EQ(0, rsa.rc) << rsa.message;
    EXPECT_EQ("Test Signer", rsa.message);
    const Outcome ec = verify_bytes(qstest::signed_document("ec-signer").bytes);
    EXPECT_EQ(0, ec.rc) << ec.message;
    EXPECT_EQ("EC Signer", ec.message);
    const Outcome self = verify_bytes(qstest::signed_document("self").bytes);
    EXPECT_EQ(0, self.rc) << self.message;
    EXPECT_EQ("Self Signed", self.message);
}

TEST_F(VerifyHandBuilt, BytesAppendedThatHoldNoUpdateChangeNothing) {
    const Outcome o = verify_bytes(qstest::signed_document().bytes + "% appended later\n");
    EXPECT_EQ(0, o.rc) << o.message;
}

TEST_F(VerifyHandBuilt, EverySingleByteChangeOutsideTheHexDigitsFails) {
    const HandSigned doc = qstest::signed_document();
    ASSERT_EQ(0, verify_bytes(doc.bytes).rc);
    int verified = 0;
    for (long i = 0; i < static_cast<long>(doc.bytes.size()); ++i) {
        if (i > doc.a && i < doc.b - 1) continue;  // the hex digits themselves
        std::string changed = doc.bytes;
        changed[static_cast<std::size_t>(i)] = static_cast<char>(changed[static_cast<std::size_t>(i)] ^ 0x04);
        const Outcome o = verify_bytes(changed);
        if (o.rc == 0) {
            ++verified;
            ADD_FAILURE() << "a change at offset " << i << " still verifies";
        }
        EXPECT_FALSE(o.message.empty()) << "offset " << i;
    }
    EXPECT_EQ(0, verified);
}

TEST_F(VerifyHandBuilt, ChangedSignedBytesReportTheFirstOpenSslError) {
    HandSigned doc = qstest::signed_document();
    doc.bytes[doc.bytes.find("200 200")] = '3';  // the page size, in the first range
    const Outcome o = verify_bytes(doc.bytes);
    EXPECT_EQ(-1, o.rc);
    EXPECT_NE(std::string::npos, o.message.find("CMS routines")) << o.message;
    EXPECT_NE(std::string::npos, o.message.find("verif")) << o.message;
}

TEST_F(VerifyHandBuilt, ChangingTheDerSignatureFails) {
    HandSigned doc = qstest::signed_document();
    // The DER ends where the placeholder's padding zeros begin; its last bytes are the signature value.
    // (A search for the first "0000" may stop inside an embedded certificate instead.)
    const std::size_t near_end = doc.bytes.find_last_not_of('0', static_cast<std::size_t>(doc.b - 2)) - 10;
    doc.bytes[near_end] = doc.bytes[near_end] == 'a' ? 'b' : 'a';
    EXPECT_EQ(-1, verify_bytes(doc.bytes).rc);
}

TEST_F(VerifyHandBuilt, EncapsulatedSha1SignaturesVerifyAgainstTheirContent) {
    const HandSigned doc = qstest::signed_document("signer", true);
    const Outcome o = verify_bytes(doc.bytes);
    EXPECT_EQ(0, o.rc) << o.message;
    EXPECT_EQ("Test Signer", o.message);

    std::string changed = doc.bytes;
    changed[changed.find("D:2024") + 5] = '5';  // the signing date, in the second range
    const Outcome bad = verify_bytes(changed);
    EXPECT_EQ(-1, bad.rc);
    EXPECT_EQ("The signed digest does not match the SHA-1 digest of the signed byte ranges.", bad.message);
}

TEST_F(VerifyHandBuilt, EncapsulatedContentOtherThanTheRangeDigestFails) {
    HandSigned doc = qstest::placeholder_document();
    const std::string der = qstest::openssl_cms(
        "-sign -nodetach -signer " + qstest::shell_quote(qstest::fixture("signer.pem")) + " -inkey " +
            qstest::shell_quote(qstest::fixture("signer.key")),
        qstest::signed_bytes(doc));  // the bytes themselves, not their digest
    qstest::fill_contents(doc, qstest::to_hex(der));
    const Outcome o = verify_bytes(doc.bytes);
    EXPECT_EQ(-1, o.rc);
    EXPECT_EQ("The signed digest does not match the SHA-1 digest of the signed byte ranges.", o.message);
}

TEST_F(VerifyHandBuilt, FilesThatAreNotSignedPdfsFail) {
    const Outcome empty = verify_bytes("");
    EXPECT_EQ(-1, empty.rc);
    EXPECT_EQ("The document to verify is empty.", empty.message);

    const Outcome text = verify_bytes("just some text, not a document\n");
    EXPECT_EQ(-1, text.rc);
    EXPECT_EQ(0u, text.message.find("The document cannot be read as a PDF")) << text.message;

    const Outcome unsigned_doc = verify_bytes(qstest::read_file(qstest::fixture("one-page.pdf")));
    EXPECT_EQ(-1, unsigned_doc.rc);
    EXPECT_EQ("No signature found!", unsigned_doc.message);

    const Outcome never_signed = verify_bytes(qstest::placeholder_document().bytes);
    EXPECT_EQ(-1, never_signed.rc);
    EXPECT_EQ("Error in d2i_CMS_bio()...", never_signed.message);
}

TEST_F(VerifyHandBuilt, TruncatedDocumentsFailInsideTheRangeCheck) {
    const HandSigned doc = qstest::signed_document();
    for (long keep : {doc.b + doc.c - 1, doc.b + 200, doc.a + 100, 100L}) {
        const Outcome o = verify_bytes(doc.bytes.substr(0, static_cast<std::size_t>(keep)));
        EXPECT_EQ(-1, o.rc) << "kept " << keep;
        EXPECT_FALSE(o.message.empty()) << "kept " << keep;
    }
    const Outcome o = verify_bytes(doc.bytes.substr(0, static_cast<std::size_t>(doc.b + doc.c - 1)));
    EXPECT_NE(std::string::npos, o.message.find("points outside the file")) << o.message;
}

TEST_F(VerifyHandBuilt, MissingFilesAndFoldersFail) {
    const Outcome missing = verify_file(dir.file("nowhere.pdf"));
    EXPECT_EQ(-1, missing.rc);
    EXPECT_EQ("No such file or directory [File: " + dir.file("nowhere.pdf") + "]", missing.message);

    const Outcome folder = verify_file(dir.path());
    EXPECT_EQ(-1, folder.rc);
    EXPECT_EQ("The document to verify is not a regular file.", folder.message);

    fetch();
    EXPECT_EQ(-1, verify_internal(nullptr, nullptr));
    EXPECT_EQ("No document to verify was given.", fetch());
}

TEST_F(VerifyHandBuilt, ContentsThatAreNotHexOrNotSignedDataFail) {
    HandSigned doc = qstest::signed_document();
    std::string bad_hex = doc.bytes;
    bad_hex[static_cast<std::size_t>(doc.a + 7)] = 'g';
    EXPECT_EQ("The signature contents are not a hexadecimal string.", verify_bytes(bad_hex).message);

    HandSigned garbage = qstest::placeholder_document();
    qstest::fill_contents(garbage, "30820102deadbeef");
    EXPECT_EQ("Error in d2i_CMS_bio()...", verify_bytes(garbage.bytes).message);

    HandSigned data = qstest::placeholder_document();
    qstest::fill_contents(data, qstest::to_hex(qstest::openssl_cms("-data_create", "hello")));
    const Outcome o = verify_bytes(data.bytes);
    EXPECT_EQ(-1, o.rc);
    EXPECT_EQ("The signature is not a CMS SignedData object.", o.message);
}

TEST_F(VerifyHandBuilt, ByteRangesThatDoNotFitTheFileFail) {
    const HandSigned good = qstest::signed_document();
    const long size = static_cast<long>(good.bytes.size());
    struct Case {
        long first, a, b, c;
        const char *expect;
    } cases[] = {
        {0, good.a, good.b, good.c + 1, "points outside the file"},
        {0, good.a, good.b + size, 0, "points outside the file"},
        {0, good.a, 9999999999L, 9999999999L, "points outside the file"},
        {0, good.a - 1, good.b, good.c, "does not frame the signature contents"},
        {0, good.a, good.b - 1, good.c + 1, "does not frame the signature contents"},
        {1, good.a, good.b, good.c, "is malformed"},
        {0, 0, good.b, good.c, "is malformed"},
        {0, good.a, good.a + 1, good.c, "is malformed"},
    };
    for (const Case &k : cases) {
        HandSigned doc = good;
        qstest::set_byte_range(doc, k.first, k.a, k.b, k.c);
        const Outcome o = verify_bytes(doc.bytes);
        EXPECT_EQ(-1, o.rc) << k.expect;
        EXPECT_NE(std::string::npos, o.message.find(k.expect)) << o.message;
        EXPECT_EQ(0u, o.message.find("The signature byte range [")) << o.message;
    }
}

TEST_F(VerifyHandBuilt, ByteRangesThatAreNotFourIntegersFail) {
    const HandSigned good = qstest::signed_document();
    const std::size_t at = good.bytes.find("/ByteRange [");
    const std::size_t end = good.bytes.find(']', at);
    for (const char *range : {"/ByteRange [0 1 2]", "/ByteRange [0 1 2 3 4]", "/ByteRange [0 1 2 /x]",
                              "/ByteRange [0 1.5 2 3]", "/ByteRange (0 1 2 3)"}) {
        // The same length as the original, so no offset moves.
        std::string text = range;
        text.resize(end + 1 - at, ' ');
        std::string changed = good.bytes;
        changed.replace(at, text.size(), text);
        const Outcome o = verify_bytes(changed);
        EXPECT_EQ(-1, o.rc) << range;
        EXPECT_EQ("The /ByteRange of the newest signature is not an array of four integers.", o.message)
            << range;
    }
}

TEST(SignedRangeReader, ServesBothRangesAcrossBlockBoundaries) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("f"), "0123456789abcdef");
    qs::FilePtr file = qs::open_file(dir.file("f").c_str(), "rb");
    for (std::size_t block : {1u, 2u, 3u, 64u}) {
        qs::SignedRangeReader reader(file.get(), 5, 8, 6, block);
        std::string got;
        unsigned char chunk[4];
        while (std::size_t n = reader.read(chunk, sizeof chunk)) got.append(reinterpret_cast<char *>(chunk), n);
        EXPECT_EQ("01234" "89abcd", got) << "block " << block;
        EXPECT_TRUE(reader.at_end());
        EXPECT_FALSE(reader.failed());
    }
    qs::SignedRangeReader through_bio(file.get(), 2, 14, 2);
    qs::BioPtr bio = qs::signed_range_bio(through_bio);
    EXPECT_EQ(0, BIO_eof(bio.get()));
    std::string got;
    char text[16];
    for (int n; (n = BIO_read(bio.get(), text, sizeof text)) > 0;) got.append(text, static_cast<std::size_t>(n));
    EXPECT_EQ("01ef", got);
    EXPECT_EQ(1, BIO_eof(bio.get()));
}

TEST(SignedRangeReader, AFileShorterThanTheRangeIsAFailureNotAnEnd) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("f"), "0123456789");
    qs::FilePtr file = qs::open_file(dir.file("f").c_str(), "rb");
    qs::SignedRangeReader reader(file.get(), 2, 6, 40, 3);
    std::string got;
    unsigned char chunk[8];
    while (std::size_t n = reader.read(chunk, sizeof chunk)) got.append(reinterpret_cast<char *>(chunk), n);
    EXPECT_TRUE(reader.failed());
    EXPECT_FALSE(reader.at_end());
}

TEST(VerifyEntryPoint, AnOpenFileVerifiesWhereverItsPositionIs) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("doc.pdf"), qstest::signed_document().bytes);
    qs::FilePtr file = qs::open_file(dir.file("doc.pdf").c_str(), "rb");
    std::fseek(file.get(), 123, SEEK_SET);
    fetch();
    EXPECT_EQ(0, qs::verify_signed_file(file.get()));
    EXPECT_EQ("Test Signer", fetch());
}

TEST(VerifyEntryPoint, AConfigurationThatCannotBeReadDoesNotStopVerification) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("doc.pdf"), qstest::signed_document().bytes);
    fetch();
    EXPECT_EQ(0, verify(dir.file("doc.pdf").c_str(), dir.file("missing.conf").c_str()));
    EXPECT_EQ("Test Signer", fetch());

    qstest::write_file(dir.file("plain.pdf"), qstest::read_file(qstest::fixture("one-page.pdf")));
    EXPECT_EQ(-1, verify(dir.file("plain.pdf").c_str(), dir.file("missing.conf").c_str()));
    EXPECT_EQ("No signature found!", fetch());
}

}  // namespace
