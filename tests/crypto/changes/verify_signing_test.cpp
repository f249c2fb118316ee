// Verification of documents signed by this library (through the program),
// including tampering, documents signed twice, other key kinds and the
// encapsulated SHA-1 layout; the command line's verify lines.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/changes/verifier.h"
#include "crypto/crypto_support.h"
#include "support/support.h"

namespace {

using qstest::fixture;
using qstest::run_cli;

struct Outcome {
    int rc;
    std::string message;
};

Outcome verify_path(const std::string &path) {
    cryptotest::message();
    const int rc = verify_internal(path.c_str(), nullptr);
    return {rc, cryptotest::message()};
}

struct Range {
    long a = 0, b = 0, c = 0;
};

Range newest_range(const std::string &path) {
    qs::FilePtr file = qs::open_file(path.c_str(), "rb");
    long range[4] = {-1, -1, -1, -1};
    EXPECT_EQ(0, qs::find_newest_signature(file.get(), range));
    return {range[1], range[2], range[3]};
}

class VerifySigned : public ::testing::Test {
protected:
    // Signs input into output with the program and the key store given.
    void sign(const std::string &input, const std::string &output, const std::string &store = "signer.p12",
              const std::string &extra = "") {
        qstest::TempDir conf_dir;
        const std::string conf = cryptotest::write_conf(conf_dir, extra, store);
        const auto r = run_cli({"-i", input, "-o", output, "-z", conf});
        ASSERT_EQ(0u, r.out.rfind("0#Document signed", 0)) << r.out;
    }
    qstest::TempDir dir;
};

TEST_F(VerifySigned, SignedDocumentsOfEveryKindVerifyAndNameTheSigner) {
    for (const char *kind : {"one-page.pdf", "objstm.pdf", "linearized.pdf", "eof-cr.pdf", "eof-trailing.pdf"}) {
        SCOPED_TRACE(kind);
        const std::string out = dir.file(std::string("signed-") + kind);
        sign(fixture(kind), out);
        const Outcome o = verify_path(out);
        EXPECT_EQ(0, o.rc) << o.message;
        EXPECT_EQ("Test Signer", o.message);
    }
}

TEST_F(VerifySigned, EcdsaSelfSignedAndOtherDigestsVerify) {
    struct Case {
        const char *store, *extra, *name;
    } cases[] = {
        {"ec-signer.p12", "", "EC Signer"},
        {"self.p12", "", "Self Signed"},
        {"signer-legacy.p12", "hashalgo=SHA512\n", "Test Signer"},
        {"signer.p12", "hashalgo=SHA1\n", "Test Signer"},
        {"big-signer.p12", "extrarange=8000\nhashalgo=SHA384\n", "Big Signer"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.store);
        const std::string out = dir.file(std::string("signed-") + k.store + ".pdf");
        sign(fixture("ten-pages.pdf"), out, k.store, k.extra);
        const Outcome o = verify_path(out);
        EXPECT_EQ(0, o.rc) << o.message;
        EXPECT_EQ(k.name, o.message);
    }
}

TEST_F(VerifySigned, EncapsulatedSha1SignaturesVerifyAndTamperingFails) {
    const std::string out = dir.file("sha1.pdf");
    sign(fixture("one-page.pdf"), out, "signer.p12", "hashalgo=SHA1\nsubfilter=adbe.pkcs7.sha1\nextrarange=3000\n");
    const Outcome o = verify_path(out);
    EXPECT_EQ(0, o.rc) << o.message;
    EXPECT_EQ("Test Signer", o.message);

    std::string bytes = qstest::read_file(out);
    bytes[bytes.size() - 3] ^= 0x01;  // in "%%EOF"
    qstest::write_file(out, bytes);
    const Outcome bad = verify_path(out);
    EXPECT_EQ(-1, bad.rc);
    EXPECT_EQ("The signed digest does not match the SHA-1 digest of the signed byte ranges.", bad.message);
}

// Offsets to change: a sample of the original document, every byte of the
// update before the placeholder, every byte of the signature dictionary after
// it and of the last line.
std::vector<long> offsets_to_change(const std::string &bytes, long input_size, const Range &r) {
    std::vector<long> at;
    for (long i = 0; i < input_size; i += 97) at.push_back(i);
    for (long i = input_size; i < r.a; ++i) at.push_back(i);
    const long dictionary_end = static_cast<long>(bytes.find("endobj", static_cast<std::size_t>(r.b)));
    for (long i = r.b - 1; i < dictionary_end; ++i) at.push_back(i);
    at.push_back(r.a);
    const long last_line = static_cast<long>(bytes.rfind("%%EOF"));
    for (long i = last_line; i < static_cast<long>(bytes.size()); ++i) at.push_back(i);
    return at;
}

TEST_F(VerifySigned, EverySingleByteChangeOutsideTheSignatureFails) {
    const std::string out = dir.file("signed.pdf");
    sign(fixture("one-page.pdf"), out);
    const std::string bytes = qstest::read_file(out);
    const Range r = newest_range(out);
    ASSERT_EQ(static_cast<long>(bytes.size()), r.b + r.c);
    const long input_size = static_cast<long>(qstest::read_file(fixture("one-page.pdf")).size());

    const std::string changed_path = dir.file("changed.pdf");
    int verified = 0;
    for (long i : offsets_to_change(bytes, input_size, r)) {
        std::string changed = bytes;
        changed[static_cast<std::size_t>(i)] ^= 0x01;
        qstest::write_file(changed_path, changed);
        const Outcome o = verify_path(changed_path);
        if (o.rc == 0) {
            ++verified;
            ADD_FAILURE() << "a change at offset " << i << " still verifies";
        }
        EXPECT_FALSE(o.message.empty());
    }
    EXPECT_EQ(0, verified);
}

TEST_F(VerifySigned, ADocumentSignedTwiceVerifiesItsNewestSignature) {
    const std::string once = dir.file("once.pdf"), twice = dir.file("twice.pdf");
    sign(fixture("one-page.pdf"), once);
    sign(once, twice, "ec-signer.p12");
    const Outcome o = verify_path(twice);
    EXPECT_EQ(0, o.rc) << o.message;
    EXPECT_EQ("EC Signer", o.message);

    // The newest signature covers the older one: changing the older
    // signature's hex digits breaks the newest.
    const Range newest = newest_range(twice), older = newest_range(once);
    ASSERT_GT(newest.a, older.b);
    std::string bytes = qstest::read_file(twice);
    bytes[static_cast<std::size_t>(older.a + 5)] = bytes[static_cast<std::size_t>(older.a + 5)] == 'a' ? 'b' : 'a';
    qstest::write_file(dir.file("older-changed.pdf"), bytes);
    EXPECT_EQ(-1, verify_path(dir.file("older-changed.pdf")).rc);
}

TEST_F(VerifySigned, ADamagedNewestByteRangeNeverFallsBackToTheOlderSignature) {
    const std::string once = dir.file("once.pdf"), twice = dir.file("twice.pdf");
    sign(fixture("one-page.pdf"), once);
    sign(once, twice, "ec-signer.p12");
    std::string bytes = qstest::read_file(twice);
    const Range newest = newest_range(twice);
    const std::string a_text = " " + std::to_string(newest.a) + " ";
    const std::size_t at = bytes.rfind("/ByteRange");
    ASSERT_NE(std::string::npos, at);
    const std::size_t digit = bytes.find(a_text, at) + 1;
    bytes[digit] = '/';  // the first number becomes a name
    qstest::write_file(twice, bytes);
    const Outcome o = verify_path(twice);
    EXPECT_EQ(-1, o.rc);
    EXPECT_EQ("The /ByteRange of the newest signature is not an array of four integers.", o.message);
}

TEST_F(VerifySigned, TheProgramPrintsTheVerifyLines) {
    const std::string out = dir.file("signed.pdf");
    sign(fixture("one-page.pdf"), out);
    const auto good = run_cli({"verify", "-i", out, "-z", dir.file("none.conf")});
    EXPECT_EQ("0#Document signature verified [Signer: Test Signer]\n", good.out);
    EXPECT_EQ(0, good.status);

    std::string bytes = qstest::read_file(out);
    bytes[bytes.size() - 3] ^= 0x01;  // in "%%EOF"
    qstest::write_file(out, bytes);
    const auto bad = run_cli({"verify", "-i", out, "-z", dir.file("none.conf")});
    EXPECT_EQ(0u, bad.out.rfind("-1#Document signature verification fails [error:", 0)) << bad.out;
    // An outside verifier agrees that the document no longer matches its signature.
    const auto sig = qstest::run_shell("pdfsig " + qstest::shell_quote(out) + " 2>&1");
    EXPECT_EQ(std::string::npos, sig.out.find("Signature is Valid")) << sig.out;
}

}  // namespace
