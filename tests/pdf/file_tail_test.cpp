// The input's tail: "%%EOF" forms, the "startxref" line and its corruption messages.
#include <gtest/gtest.h>

#include <quillseal/quillseal.h>

#include "pdf_test_util.h"

namespace {

std::string last_message() {
    char text[256] = "";
    handle_error_message(text, 0);
    return text;
}

struct Tail {
    int rc;
    long startxref, prev;
};

Tail tail_of(const std::string &data) {
    qstest::TempDir dir;
    auto f = pdftest::stream_over(dir, data);
    last_message();
    Tail t{0, -7, -7};
    t.rc = read_xref_offset(f.get(), &t.startxref, &t.prev);
    if (t.rc == 0) {
        EXPECT_EQ(std::ftell(f.get()), 0L) << "stream must be rewound";
    }
    return t;
}

const std::string kBody = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\nxref\n0 1\n";  // 38 bytes

TEST(FileTail, EveryEndOfFileFormGivesTheSameOffsets) {
    for (const char *end : {"%%EOF\n", "%%EOF\r", "%%EOF\r\n", "%%EOF", "%%EOF\n\n  junk after\n"}) {
        for (const char *eol : {"\n", "\r", "\r\n"}) {
            const std::string data = kBody + "startxref" + eol + "1234" + eol + end;
            const Tail t = tail_of(data);
            ASSERT_EQ(t.rc, 0) << end << " / " << eol;
            EXPECT_EQ(t.startxref, static_cast<long>(kBody.size()));
            EXPECT_EQ(t.prev, 1234);
        }
    }
}

TEST(FileTail, ZeroPreviousOffsetAndLastEofWins) {
    Tail t = tail_of(kBody + "startxref\n0\n%%EOF\n");
    ASSERT_EQ(t.rc, 0);
    EXPECT_EQ(t.prev, 0);
    // An earlier section's tail followed by a later one: the later one counts.
    const std::string first = kBody + "startxref\n11\n%%EOF\n";
    t = tail_of(first + "2 0 obj\n<< >>\nendobj\nstartxref\n999\n%%EOF\r\n");
    ASSERT_EQ(t.rc, 0);
    EXPECT_EQ(t.prev, 999);
}

TEST(FileTail, CorruptionMessages) {
    Tail t = tail_of(kBody + "startxref\n12\n");
    EXPECT_EQ(t.rc, -1);
    EXPECT_EQ(last_message(), "Document may be corrupted: last line of PDF is not %%%%EOF!");
    t = tail_of(kBody + "startref\n12\n%%EOF\n");  // the nearest "s" starts no startxref line
    EXPECT_EQ(t.rc, -1);
    EXPECT_EQ(last_message(), "Document may be corrupted: startxref line not found!");
    t = tail_of("%%EOF\n");  // too short to hold a startxref line at all
    EXPECT_EQ(t.rc, -1);
    EXPECT_EQ(last_message(), "Document may be corrupted: startxref line not found!");
    t = tail_of("");
    EXPECT_EQ(t.rc, -1);
    EXPECT_EQ(last_message(), "Document may be corrupted: last line of PDF is not %%%%EOF!");
}

TEST(FileTail, FindEofFromEnd) {
    qstest::TempDir dir;
    auto f = pdftest::stream_over(dir, "abc%%EOF\n");
    EXPECT_EQ(findEOFFromEnd(f.get()), 6);
    f = pdftest::stream_over(dir, "%%EOF", "b");
    EXPECT_EQ(findEOFFromEnd(f.get()), 5);
    f = pdftest::stream_over(dir, "x%%%EOFyy", "c");
    EXPECT_EQ(findEOFFromEnd(f.get()), 7);
    f = pdftest::stream_over(dir, "no mark here", "d");
    EXPECT_EQ(findEOFFromEnd(f.get()), 12);
    // A mark far from the end, across the read blocks.
    std::string big = "%%EOF" + std::string(200000, 'g');
    f = pdftest::stream_over(dir, big, "e");
    EXPECT_EQ(findEOFFromEnd(f.get()), static_cast<long>(big.size()));
    big = std::string(65536 - 2, 'g') + "%%EOF" + std::string(65536 - 3, 'h');
    f = pdftest::stream_over(dir, big, "f");
    EXPECT_EQ(findEOFFromEnd(f.get()), 65536 - 3 + 5);
}

TEST(FileTail, GeneratedDocumentsPointAtTheirLastSection) {
    for (const char *name : {"one-page.pdf", "ten-pages.pdf", "objstm.pdf", "linearized.pdf",
                             "classic.pdf", "noinfo.pdf", "eof-bare.pdf", "eof-crlf.pdf",
                             "eof-cr.pdf", "eof-trailing.pdf"}) {
        auto f = pdftest::open_read(qstest::fixture(name));
        ASSERT_TRUE(f) << name;
        long at = 0, prev = 0;
        ASSERT_EQ(read_xref_offset(f.get(), &at, &prev), 0) << name;
        char word[16] = "";
        std::fseek(f.get(), prev, SEEK_SET);
        ASSERT_EQ(std::fread(word, 1, 4, f.get()), 4u);
        // Either a classic "xref" keyword or the first digit of a stream object's number.
        EXPECT_TRUE(std::string(word, 4) == "xref" || (word[0] >= '1' && word[0] <= '9')) << name;
    }
}

}  // namespace
