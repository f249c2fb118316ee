// Byte-level helpers: lines with every end-of-line, file spans and sizes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <quillseal/quillseal.h>

#include "pdf_test_util.h"

namespace {

TEST(FileIo, LgetsKeepsEveryEndOfLine) {
    qstest::TempDir dir;
    auto f = pdftest::stream_over(dir, "a\nb\rc\r\nd");
    char line[256];
    std::string got;
    while (lgets(line, sizeof line, f.get())) got += std::string("[") + line + "]";
    EXPECT_EQ(got, "[a\n][b\r][c\r\n][d]");
}

TEST(FileIo, LgetsSplitsLongLinesWithoutLosingACharacter) {
    qstest::TempDir dir;
    const std::string text = std::string(300, 'x') + "\n";
    auto f = pdftest::stream_over(dir, text);
    char line[256];
    ASSERT_TRUE(lgets(line, sizeof line, f.get()));
    EXPECT_EQ(std::strlen(line), 255u);
    ASSERT_TRUE(lgets(line, sizeof line, f.get()));
    EXPECT_EQ(std::string(line), std::string(45, 'x') + "\n");
    EXPECT_EQ(lgets(line, sizeof line, f.get()), nullptr);
    // A "\r" that fills the buffer leaves its "\n" for the next call.
    f = pdftest::stream_over(dir, "abc\r\n", "b");
    char small[5];
    ASSERT_TRUE(lgets(small, sizeof small, f.get()));
    EXPECT_STREQ(small, "abc\r");
    ASSERT_TRUE(lgets(small, sizeof small, f.get()));
    EXPECT_STREQ(small, "\n");
    // A one-byte buffer reads nothing but has not met the end of the file.
    f = pdftest::stream_over(dir, "z", "c");
    EXPECT_EQ(lgets(small, 1, f.get()), small);
    EXPECT_STREQ(small, "");
}

TEST(FileIo, SpansAndSizes) {
    qstest::TempDir dir;
    std::string data;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) data += static_cast<char>('a' + i % 26);
    auto f = pdftest::stream_over(dir, data);
    EXPECT_EQ(getFileSize(f.get()), static_cast<long>(data.size()));
    EXPECT_EQ(std::ftell(f.get()), 0L);

    char *span = get_file_section(f.get(), 5, 2 * 1024 * 1024 + 9);
    ASSERT_NE(span, nullptr);
    EXPECT_EQ(std::string(span, 2 * 1024 * 1024 + 4), data.substr(5, 2 * 1024 * 1024 + 4));
    EXPECT_EQ(span[2 * 1024 * 1024 + 4], '\0');
    std::free(span);

    std::FILE *out = std::fopen(dir.file("copy").c_str(), "w+b");
    ASSERT_NE(out, nullptr);
    std::fputs("head", out);
    EXPECT_EQ(copy_file_section(f.get(), out, 0, getFileSize(f.get())), 4);
    std::fclose(out);
    EXPECT_EQ(qstest::read_file(dir.file("copy")), "head" + data);

    // A middle span lands at the destination's position and writing goes on after
    // it, whether the kernel copies (a new file) or the blocks do (an appending one);
    // a span past the source's end fails.
    for (const char *mode : {"w+b", "a+b"}) {
        const std::string path = dir.file(std::string("span-") + mode[0]);
        std::FILE *to = std::fopen(path.c_str(), mode);
        ASSERT_NE(to, nullptr);
        std::fputs("<", to);
        EXPECT_EQ(copy_file_section(f.get(), to, 100, 1024 * 1024 + 300), 1) << mode;
        std::fputs(">", to);
        EXPECT_EQ(copy_file_section(f.get(), to, static_cast<long>(data.size()) - 5, static_cast<long>(data.size()) + 5), -1);
        std::fclose(to);
        EXPECT_EQ(qstest::read_file(path).substr(0, 1024 * 1024 + 202), "<" + data.substr(100, 1024 * 1024 + 200) + ">") << mode;
    }

    // What a source stream still buffers is copied too.
    std::FILE *pending = std::fopen(dir.file("pending").c_str(), "w+b");
    std::FILE *to = std::fopen(dir.file("from-pending").c_str(), "w+b");
    ASSERT_TRUE(pending && to);
    std::fputs("not yet on disk", pending);
    EXPECT_EQ(copy_file_section(pending, to, 4, 15), 0);
    std::fclose(pending);
    std::fclose(to);
    EXPECT_EQ(qstest::read_file(dir.file("from-pending")), "yet on disk");

    long size = -1;
    char *whole = copy_file_to_buffer(dir.file("data.bin").c_str(), &size);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(size, static_cast<long>(data.size()));
    EXPECT_EQ(std::memcmp(whole, data.data(), data.size()), 0);
    std::free(whole);

    qstest::write_file(dir.file("empty"), "");
    whole = copy_file_to_buffer(dir.file("empty").c_str(), &size);
    EXPECT_NE(whole, nullptr);
    EXPECT_EQ(size, 0);
    std::free(whole);
    EXPECT_EQ(copy_file_to_buffer(dir.file("missing").c_str(), &size), nullptr);
    EXPECT_EQ(size, 0);
}

}  // namespace
