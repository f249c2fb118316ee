#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <quillseal/quillseal.h>

#include "appearance/signature_text.h"

namespace {

const char *kDisplay = "2017.03.05 14:07:09 +01'00'";

std::string fill(const char *tmpl, const char *date = kDisplay, const char *name = "Jane Roe",
                 const char *reason = "Approved", const char *location = "Basel") {
    char *text = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(prepare_visible_signature_text(tmpl, name, reason, location, date, &text), 0);
    if (!text || text == reinterpret_cast<char *>(0x1)) return "(no text)";
    // The buffer is 512 zero-filled bytes.
    const std::size_t len = std::strlen(text);
    EXPECT_LE(len, 511u);
    for (std::size_t i = len; i < 512; ++i) EXPECT_EQ(text[i], '\0');
    std::string out(text);
    std::free(text);
    return out;
}

TEST(SignatureText, FillsNameReasonLocationAndDates) {
    EXPECT_EQ(fill("Signed by %N\nReason: %R\nLocation: %L\nDate: %Z"),
              "Signed by Jane Roe\nReason: Approved\nLocation: Basel\nDate: 2017.03.05 14:07:09 +01'00'");
    EXPECT_EQ(fill("%D|%T"), "2017.03.05|2017.03.05 14:07:09");
    EXPECT_EQ(fill("!N / !R / !L"), "Jane Roe / Approved / Basel");
}

TEST(SignatureText, CustomDateTemplate) {
    EXPECT_TRUE(qs::uses_custom_date("on %C"));
    EXPECT_FALSE(qs::uses_custom_date("on %D"));
    EXPECT_EQ(fill("on %C", "05/03/2017"), "on 05/03/2017");
    // %D takes the first 10 characters of whatever date is visible.
    EXPECT_EQ(fill("%C (%D)", "Sun Mar  5 14:07:09 2017"), "Sun Mar  5 14:07:09 2017 (Sun Mar  5)");
    // A date shorter than the piece asked for is inserted whole.
    EXPECT_EQ(fill("%T|%D", "5.3.17"), "5.3.17|5.3.17");
}

TEST(SignatureText, OnlyFirstOccurrenceIsReplaced) {
    EXPECT_EQ(fill("%N and %N"), "Jane Roe and %N");
    EXPECT_EQ(fill("%Z %Z"), std::string(kDisplay) + " %Z");
}

TEST(SignatureText, TemplateWithoutPlaceholdersIsUnchanged) {
    EXPECT_EQ(fill("Digitally signed, 100% sure %x %s %n"), "Digitally signed, 100% sure %x %s %n");
    EXPECT_EQ(fill(""), "");
    EXPECT_EQ(fill(nullptr), "");
}

TEST(SignatureText, PercentInValuesIsLiteral) {
    EXPECT_EQ(fill("%N: %R", kDisplay, "100% %D %s", "%n%n%n"), "100% %D %s: %n%n%n");
}

TEST(SignatureText, MissingValuesReadAsEmpty) {
    char *text = nullptr;
    ASSERT_EQ(prepare_visible_signature_text("[%N][%R][%L][%Z]", nullptr, nullptr, nullptr, nullptr, &text), 0);
    EXPECT_STREQ(text, "[][][][]");
    std::free(text);
    EXPECT_EQ(prepare_visible_signature_text("x", "n", "r", "l", "d", nullptr), -1);
}

TEST(SignatureText, LongValuesAreCutNotOverrun) {
    const std::string big(2000, 'A');
    const std::string out = fill("%N|%R|%L", kDisplay, big.c_str(), big.c_str(), big.c_str());
    EXPECT_EQ(out.size(), 511u);
    EXPECT_EQ(out, std::string(511, 'A'));
    // The reason's placeholder was pushed out of the text by the name.
    const std::string out2 = fill("%R %N", kDisplay, big.c_str());
    EXPECT_EQ(out2, "Approved " + std::string(502, 'A'));
    const std::string long_template(3000, 'T');
    EXPECT_EQ(fill(long_template.c_str()).size(), 511u);
}

TEST(SignatureText, CutNeverSplitsAUtf8Character) {
    // "ü" is two bytes; 510 bytes of padding leave room for only half of it.
    const std::string pad(510, 'p');
    const std::string name = pad + "\xc3\xbc" + "tail";
    EXPECT_EQ(fill("%N", kDisplay, name.c_str()), pad);
    std::string text = std::string(509, 'p') + "\xe2\x82\xac";  // euro sign, three bytes
    qs::cut_text(text, 511);
    EXPECT_EQ(text, std::string(509, 'p'));
    // Bytes that are not UTF-8 are cut where the limit falls.
    text = std::string(510, 'p') + "\xa0\xa0";
    qs::cut_text(text, 511);
    EXPECT_EQ(text.size(), 511u);
}

}  // namespace
