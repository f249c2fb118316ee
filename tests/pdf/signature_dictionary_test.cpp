// The signature dictionary: the settling loop and the placeholder filling.
#include <gtest/gtest.h>

#include "core/base/text.h"
#include "pdf/signature_dictionary.h"
#include "pdf/xref_writer.h"

namespace {

qs::SignatureFields fields(int digits) {
    qs::SignatureFields f;
    f.subfilter = "/adbe.pkcs7.detached";
    f.appname = "Quillseal v2.7.1";
    f.reason = "_XXX_ and <ffffffff> in the reason";
    f.contact = "/Contents <ffff>";
    f.moddate = "D:20170305140709+01'00'";
    f.digits = digits;
    return f;
}

// Offsets around the points where a and b gain a digit.
TEST(SignatureDictionary, SettledOffsetIsThePlaceholdersOwn) {
    for (long base : {0L, 9900L, 9960L, 9970L, 99950L, 999940L, 123456789L}) {
        for (int digits : {2, 100, 8192}) {
            SCOPED_TRACE(base);
            QPDFObjectHandle sig = qs::signature_dictionary(fields(digits));
            const qs::SettledSignature s = qs::settle_signature(sig, 12, base, digits, 5);
            const std::string framed = qs::frame_object(12, 0, s.body);
            ASSERT_EQ(framed.compare(s.contents, 1, "<"), 0);
            EXPECT_EQ(framed.compare(s.contents - 10, 10, "/Contents "), 0);
            EXPECT_EQ(s.a, base + static_cast<long>(s.contents));
            const std::string range = "/ByteRange [ 0 " + qs::decimal(s.a) + " " + qs::decimal(s.a + digits + 2) + " _XXX_ ]";
            EXPECT_EQ(s.body.compare(3, range.size(), range), 0) << s.body.substr(0, 60);
        }
    }
}

TEST(SignatureDictionary, FillingPadsCAndZeroesTheDigits) {
    QPDFObjectHandle sig = qs::signature_dictionary(fields(8));
    qs::SettledSignature s = qs::settle_signature(sig, 3, 100, 8, 5);
    std::string text = "junk _XXX_ " + qs::frame_object(3, 0, s.body);
    const std::size_t object = 11;
    qs::fill_signature_placeholders(text, object, object + s.contents, 8, 42, 5);
    EXPECT_EQ(text.compare(0, 11, "junk _XXX_ "), 0);
    EXPECT_NE(text.find(" 42    ] /ContactInfo"), std::string::npos);
    EXPECT_EQ(text.compare(object + s.contents, 10, "<00000000>"), 0);
    EXPECT_NE(text.find("(_XXX_ and <ffffffff> in the reason)"), std::string::npos);

    // A value wider than its placeholder is refused rather than shifting the text.
    std::string again = qs::frame_object(3, 0, s.body);
    EXPECT_THROW(qs::fill_signature_placeholders(again, 0, s.contents, 8, 100000, 5), std::runtime_error);
    // A wider placeholder takes it.
    s = qs::settle_signature(sig, 3, 100, 8, 6);
    again = qs::frame_object(3, 0, s.body);
    qs::fill_signature_placeholders(again, 0, s.contents, 8, 100000, 6);
    EXPECT_NE(again.find(" 100000 ] /ContactInfo"), std::string::npos);
}

TEST(SignatureDictionary, KeysComeOutSorted) {
    qs::SignatureFields f = fields(4);
    f.certify = true;
    f.catalog = QPDFObjectHandle::newName("/C");  // stands in for the catalog reference
    QPDFObjectHandle sig = qs::signature_dictionary(f);
    const std::string body = qs::settle_signature(sig, 3, 0, 4, 5).body;
    std::size_t last = 0;
    for (const char *key : {"/ByteRange", "/ContactInfo", "/Contents", "/Filter /Adobe.PPKLite", "/Location ()",
                            "/M (D:", "/Prop_Build", "/Reason", "/Reference [ << /Data /C /TransformMethod /DocMDP", "/SubFilter /adbe.pkcs7.detached",
                            "/Type /Sig >>"}) {
        const std::size_t at = body.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
}

}  // namespace
