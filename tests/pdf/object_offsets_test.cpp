// Object spans: qpdf's listing, the classic table and the nearest-offset rule.
#include <gtest/gtest.h>

#include <quillseal/quillseal.h>

#include "pdf_test_util.h"

namespace {

// Eleven-plus objects so that the pattern of object 1 also occurs in object 11's line.
std::string numbered_pdf(int objects, std::vector<long> &offsets) {
    std::string pdf = "%PDF-1.4\n";
    offsets.assign(static_cast<std::size_t>(objects) + 1, 0);
    for (int i = 1; i <= objects; ++i) {
        offsets[static_cast<std::size_t>(i)] = static_cast<long>(pdf.size());
        if (i == 1)
            pdf += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
        else if (i == 2)
            pdf += "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
        else if (i == 3)
            pdf += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>\nendobj\n";
        else
            pdf += std::to_string(i) + " 0 obj\n(" + std::string(static_cast<std::size_t>(i), 'x') + ")\nendobj\n";
    }
    const long xref = static_cast<long>(pdf.size());
    pdf += "xref\n0 " + std::to_string(objects + 1) + "\n0000000000 65535 f\r\n";
    for (int i = 1; i <= objects; ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010ld 00000 n\r\n", offsets[static_cast<std::size_t>(i)]);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    offsets[0] = xref;
    return pdf;
}

TEST(ObjectOffsets, QpdfListingFindsTheObjectAndItsSuccessor) {
    qstest::TempDir dir;
    std::vector<long> offsets;
    auto f = pdftest::stream_over(dir, numbered_pdf(12, offsets));
    long start = -1, end = -1;
    ASSERT_EQ(qpdf_read_obj_start_end_offsets(f.get(), "", 1, &start, &end), 0);
    EXPECT_EQ(start, offsets[1]);
    EXPECT_EQ(end, offsets[2]);
    ASSERT_EQ(qpdf_read_obj_start_end_offsets(f.get(), "", 11, &start, &end), 0);
    EXPECT_EQ(start, offsets[11]);
    EXPECT_EQ(end, offsets[12]);
    start = end = -1;
    char text[256];
    handle_error_message(text, 0);
    EXPECT_EQ(qpdf_read_obj_start_end_offsets(f.get(), "", 12, &start, &end), -1);
    EXPECT_EQ(start, offsets[12]);  // the start is still written
    // The failure names the missing object, so no earlier text is shown for it.
    handle_error_message(text, 0);
    EXPECT_STREQ(text, "The cross-reference table lists no file offset for object 13.");
}

TEST(ObjectOffsets, CompressedObjectsHaveNoListedOffset) {
    // In the object-stream fixture the catalog lives in an object stream.
    auto f = pdftest::open_read(qstest::fixture("objstm.pdf"));
    ASSERT_TRUE(f);
    long start = -1, end = -1;
    int found = 0;
    for (int n = 1; n < 12; ++n) found += qpdf_read_obj_start_end_offsets(f.get(), "", n, &start, &end) == 0;
    EXPECT_LT(found, 11);
}

TEST(ObjectOffsets, DamagedFileFailsWithAMessage) {
    qstest::TempDir dir;
    auto f = pdftest::stream_over(dir, "not a pdf at all");
    long start = 0, end = 0;
    char text[256];
    handle_error_message(text, 0);
    EXPECT_EQ(qpdf_read_obj_start_end_offsets(f.get(), "", 1, &start, &end), -1);
    handle_error_message(text, 0);
    EXPECT_STRNE(text, "");
}

TEST(ObjectOffsets, ClassicTableLookup) {
    qstest::TempDir dir;
    std::vector<long> offsets;
    auto f = pdftest::stream_over(dir, numbered_pdf(5, offsets));
    long start = -1, end = -1;
    EXPECT_EQ(readObjStartEndOffsets(f.get(), offsets[0], 3, &start, &end), 0);
    EXPECT_EQ(start, offsets[3]);
    EXPECT_EQ(end, offsets[4]);
    EXPECT_EQ(readObjStartEndOffsets(f.get(), offsets[0], 9, &start, &end), -1);
}

TEST(ObjectOffsets, NearestFollowingOffset) {
    const long table[] = {100, 300, 250, 900};
    const long candidates[] = {800, 400, 260, 50, 0};
    // K starts at 800 and drops to 260; the table then lowers it to 250.
    EXPECT_EQ(getObjEndByteOffset(200, table, candidates, 4, 0), 250);
    EXPECT_EQ(getByteOffsetEnd(200, table, 1000, 4, 0), 250);
    // With a fallback: a candidate beyond the start wins at once.
    EXPECT_EQ(getByteOffsetEnd(200, table, 700, 4, 5000), 700);
    EXPECT_EQ(getByteOffsetEnd(950, table, 700, 4, 5000), 5000);
    EXPECT_EQ(getByteOffsetEnd(260, table, 100, 4, 800), 300);
}

}  // namespace
