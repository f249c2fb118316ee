#include <gtest/gtest.h>

#include <string>

#include <quillseal/quillseal.h>

#include "appearance/page_placement.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

namespace {

std::string fetch_message() {
    char buf[256];
    handle_error_message(buf, 0);
    return buf;
}

TEST(PageChoice, PageNumbersOfATenPageDocument) {
    const struct {
        int number, page;
    } cases[] = {{0, 1}, {1, 1}, {4, 4}, {10, 10}, {25, 10}, {-1, 10}, {-3, 8}, {-10, 1}, {-11, 1},
                 {-2147483647 - 1, 1}, {2147483647, 10}};
    for (const auto &c : cases) {
        const qs::PageChoice choice = qs::choose_page(c.number, 10);
        EXPECT_EQ(choice.page, c.page) << c.number;
        EXPECT_FALSE(choice.all_pages) << c.number;
    }
}

TEST(PageChoice, StarSelectsFirstPageAndAllPages) {
    const int number = qs::page_number_from_text("*");
    EXPECT_EQ(number, qs::kAllPages);
    const qs::PageChoice choice = qs::choose_page(number, 10);
    EXPECT_EQ(choice.page, 1);
    EXPECT_TRUE(choice.all_pages);
}

TEST(PageChoice, PageTextIsReadLikeAtoi) {
    EXPECT_EQ(qs::page_number_from_text("3"), 3);
    EXPECT_EQ(qs::page_number_from_text(" -2x"), -2);
    EXPECT_EQ(qs::page_number_from_text("last"), 0);
    EXPECT_EQ(qs::page_number_from_text(""), 0);
    EXPECT_EQ(qs::page_number_from_text("**"), 0);
}

TEST(PageChoice, DocumentWithoutPagesHasNoChoice) {
    EXPECT_EQ(qs::choose_page(1, 0).page, 0);
    EXPECT_EQ(qs::choose_page(qs::kAllPages, 0).page, 0);
}

class PageBox : public ::testing::Test {
protected:
    QPDF pdf;
    void SetUp() override { pdf.emptyPDF(); }

    QPDFObjectHandle add_page(const std::string &dict) {
        QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse(dict));
        QPDFPageDocumentHelper(pdf).addPage(page, false);
        return QPDFPageDocumentHelper(pdf).getAllPages().back().getObjectHandle();
    }

    std::string box_of(const std::string &dict) {
        std::string box;
        fetch_message();
        if (!qs::page_box_text(add_page(dict), box)) return "failed: " + fetch_message();
        return box;
    }
};

TEST_F(PageBox, NumbersAreTruncatedTowardZero) {
    EXPECT_EQ(box_of("<< /Type /Page /MediaBox [0 0 595.28 841.89] >>"), "[0 0 595 841]");
    EXPECT_EQ(box_of("<< /Type /Page /MediaBox [-10.7 -0.5 612 792] >>"), "[-10 0 612 792]");
    EXPECT_EQ(box_of("<< /Type /Page /MediaBox [0 0 99999999999 792.5] >>"), "[0 0 2147483647 792]");
}

TEST_F(PageBox, InheritedBoxIsUsed) {
    QPDFObjectHandle page = add_page("<< /Type /Page >>");
    pdf.getRoot().getKey("/Pages").replaceKey("/MediaBox", QPDFObjectHandle::parse("[0 0 300 400]"));
    std::string box;
    ASSERT_TRUE(qs::page_box_text(page, box)) << fetch_message();
    EXPECT_EQ(box, "[0 0 300 400]");
}

TEST_F(PageBox, BoxWithoutFourNumbersFailsWithMessage) {
    for (const char *dict : {"<< /Type /Page /MediaBox [0 0 612] >>", "<< /Type /Page /MediaBox [] >>",
                             "<< /Type /Page /MediaBox [0 0 /W 792] >>",
                             "<< /Type /Page /MediaBox (A4) >>", "<< /Type /Page >>"}) {
        const std::string result = box_of(dict);
        EXPECT_EQ(result, "failed: The signature page has no /MediaBox of four numbers.") << dict;
    }
}

TEST_F(PageBox, BoxTextFeedsTheRectangle) {
    std::string box;
    ASSERT_TRUE(qs::page_box_text(add_page("<< /Type /Page /MediaBox [0 0 612 792] >>"), box));
    int *r = validate_sig_rect("[-170 -80 -40 -40]", box.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 442);
    EXPECT_EQ(r[3], 752);
    std::free(r);
}

}  // namespace
