// The TrueType route: libharu's one-page document, the font objects taken
// over from it under new numbers, and the choice of the font file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <quillseal/quillseal.h>

#include "appearance/truetype_document.h"
#include "support/support.h"

namespace {

struct ConfigDeleter {
    void operator()(SigningConfig *c) const { free_config(c); }
};
using Config = std::unique_ptr<SigningConfig, ConfigDeleter>;

Config logging_config(const qstest::TempDir &dir, const std::string &sigfont = "") {
    Config config(init_config(nullptr));
    std::snprintf(config->debug, sizeof config->debug, "on");
    std::snprintf(config->logfile, sizeof config->logfile, "%s", dir.file("debug.log").c_str());
    std::snprintf(config->sigfont, sizeof config->sigfont, "%s", sigfont.c_str());
    return config;
}

std::string default_font() {
    for (const char *path : qs::kDefaultFontPaths)
        if (qstest::file_exists(path)) return path;
    return "";
}

// The text of object number in the framed objects (up to the next object).
std::string object_text(const std::string &objects, int number) {
    const std::size_t at = objects.find(std::to_string(number) + " 0 obj\n");
    if (at == std::string::npos) return "";
    return objects.substr(at, objects.find("endobj\n", at) + 7 - at);
}

TEST(TrueTypeRoute, FontObjectsAreRenumberedAndReferToEachOther) {
    qstest::TempDir dir;
    ASSERT_FALSE(default_font().empty()) << "fonts-dejavu-core is not installed";
    Config config = logging_config(dir);
    unsigned char *pdf = nullptr;
    int length = 0;
    ASSERT_EQ(libharu_produce_document(config.get(), "Sign\xc3\xa9\nZ\xc3\xbcrich\nthird", default_font().c_str(),
                                       595, 842, 0, 0, 130, 40, &pdf, &length),
              0);
    ASSERT_GT(length, 0);

    long offset = 10000;
    int next = 40, count = 0, numbers[10] = {0}, objects_length = 0, content_length = 0;
    long offsets[10] = {0};
    unsigned char *objects = nullptr, *content = nullptr;
    ASSERT_EQ(qpdf_libharu_copy_contents_and_font_subset_objects(pdf, length, &offset, &next, &count, &objects,
                                                                 &objects_length, numbers, offsets, &content,
                                                                 &content_length),
              0);
    std::free(pdf);
    const std::string text(reinterpret_cast<char *>(objects), static_cast<std::size_t>(objects_length));
    const std::string drawing(reinterpret_cast<char *>(content), static_cast<std::size_t>(content_length));
    std::free(objects);
    std::free(content);

    EXPECT_EQ(next, 46);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(offset, 10000 + objects_length);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(numbers[i], 40 + i);
        EXPECT_EQ(text.compare(static_cast<std::size_t>(offsets[i] - 10000), 9, std::to_string(40 + i) + " 0 obj\n"), 0);
    }
    EXPECT_EQ(numbers[6], 0);
    EXPECT_NE(object_text(text, 41).find("/FontFile2 40 0 R"), std::string::npos);
    EXPECT_NE(object_text(text, 43).find("/CIDToGIDMap 42 0 R"), std::string::npos);
    EXPECT_NE(object_text(text, 43).find("/FontDescriptor 41 0 R"), std::string::npos);
    EXPECT_NE(object_text(text, 45).find("/DescendantFonts [ 43 0 R ]"), std::string::npos);
    EXPECT_NE(object_text(text, 45).find("/ToUnicode 44 0 R"), std::string::npos);
    EXPECT_EQ(text.find("_0_R"), std::string::npos);
    // Three lines in a box 40 high: leading 13, font size 10, first baseline 29 (42 - 13).
    EXPECT_NE(drawing.find("/F1 10 Tf"), std::string::npos) << drawing;
    EXPECT_NE(drawing.find("2 42 Td\n0 -13 Td\n"), std::string::npos) << drawing;
    EXPECT_EQ(qstest::read_file(dir.file("debug.log")), "");
}

TEST(TrueTypeRoute, FontChoiceAndLibharuFailures) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("not-a-font.ttf"), "plain text, no font tables");
    struct Case {
        const char *name;
        std::string sigfont, chosen, logged;
    } cases[] = {
        {"default font", "", default_font(), ""},
        {"font given", default_font(), default_font(), ""},
        {"missing font file", dir.file("missing.ttf"), "", "Font file " + dir.file("missing.ttf") + " does not exist!..."},
        {"a directory is no font file", dir.path(), "", "Font file " + dir.path() + " does not exist!..."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("debug.log").c_str());
        Config config = logging_config(dir, c.sigfont);
        EXPECT_EQ(qs::truetype_font_path(*config), c.chosen);
        const std::string log = qstest::read_file(dir.file("debug.log"));
        if (c.logged.empty())
            EXPECT_EQ(log, "");
        else
            EXPECT_NE(log.find("[core]: " + c.logged + "\n"), std::string::npos) << log;
    }

    // libharu cannot load the font: its error reaches the debug log, and the
    // recovery point ends the document with -1 (the route then falls back).
    Config config = logging_config(dir);
    std::remove(dir.file("debug.log").c_str());
    unsigned char *pdf = nullptr;
    int length = 0;
    EXPECT_EQ(libharu_produce_document(config.get(), "Sign\xc3\xa9", dir.file("not-a-font.ttf").c_str(), 595, 842, 0,
                                       0, 130, 40, &pdf, &length),
              -1);
    EXPECT_EQ(pdf, nullptr);
    const std::string log = qstest::read_file(dir.file("debug.log"));
    EXPECT_NE(log.find("[core]: ERROR: error_no="), std::string::npos) << log;
    EXPECT_NE(log.find("[core]: libharu error: internal issue...\n"), std::string::npos) << log;
    // The route works again afterwards: the failed document left nothing behind.
    ASSERT_EQ(libharu_produce_document(config.get(), "Sign\xc3\xa9", default_font().c_str(), 595, 842, 0, 0, 130, 40,
                                       &pdf, &length),
              0);
    std::free(pdf);
    // Outside a document the handler only records the error.
    error_handler(0x1025, 7, config.get());
    EXPECT_NE(qstest::read_file(dir.file("debug.log")).find("ERROR: error_no=1025, detail_no=7"), std::string::npos);
}

}  // namespace
