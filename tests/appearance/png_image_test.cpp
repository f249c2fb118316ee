// The signature image: every PNG kind comes out as 8-bit RGB with an alpha
// plane when it has transparency; what is no usable PNG is refused with its message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace {

using qstest::make_png;
using qstest::png_chunk;

std::string repeat(const std::string &pixel, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += pixel;
    return out;
}

std::string message() {
    char text[256];
    handle_error_message(text, 0);
    return text;
}

struct Decoded {
    int rc = -1, width = 0, height = 0, bits = 0;
    std::string rgb, alpha;
    bool has_alpha = false;
    std::string message;
};

Decoded decode(const std::string &path) {
    Decoded d;
    message();
    unsigned char *rgb = nullptr, *alpha = nullptr;
    d.rc = get_png_data(path.c_str(), &d.width, &d.height, &d.bits, &rgb, &alpha);
    d.message = message();
    if (rgb) d.rgb.assign(reinterpret_cast<char *>(rgb), static_cast<std::size_t>(d.width) * d.height * 3);
    d.has_alpha = alpha != nullptr;
    if (alpha) d.alpha.assign(reinterpret_cast<char *>(alpha), static_cast<std::size_t>(d.width) * d.height);
    std::free(rgb);
    std::free(alpha);
    return d;
}

TEST(PngImage, EveryKindBecomesEightBitRgbAndBadFilesAreRefused) {
    qstest::TempDir dir;
    const std::string header_only = make_png(1000, 1000, 6, 8, "");
    struct Case {
        const char *name;
        std::string file;
        std::string rgb, alpha;  // expected planes of a 3 x 2 image; alpha "-" for none
        const char *message;     // expected refusal, or "" for success
    } cases[] = {
        {"RGBA", make_png(3, 2, 6, 8, repeat(std::string("\x10\x20\x30\x80", 4), 6)),
         repeat("\x10\x20\x30", 6), repeat("\x80", 6), ""},
        {"RGB without alpha", make_png(3, 2, 2, 8, repeat("\x01\x02\x03", 6)), repeat("\x01\x02\x03", 6), "-", ""},
        {"16-bit RGB is reduced to 8 bits", make_png(3, 2, 2, 16, repeat(std::string("\x10\x10\x80\x80\xf0\xf0", 6), 6)),
         repeat("\x10\x80\xf0", 6), "-", ""},
        {"16-bit RGBA", make_png(3, 2, 6, 16, repeat(std::string("\xff\xff\x00\x00\x00\x00\x80\x80", 8), 6)),
         repeat(std::string("\xff\x00\x00", 3), 6), repeat("\x80", 6), ""},
        {"palette with transparency",
         make_png(3, 2, 3, 8, repeat(std::string("\x00\x01\x01", 3), 2),
                  png_chunk("PLTE", std::string("\x00\x00\xff\xff\xc8\x00", 6)) + png_chunk("tRNS", std::string("\x00", 1))),
         repeat(std::string("\x00\x00\xff\xff\xc8\x00\xff\xc8\x00", 9), 2), repeat(std::string("\x00\xff\xff", 3), 2), ""},
        {"1-bit grey", make_png(3, 2, 0, 1, std::string("\xa0\xa0", 2)),
         repeat(std::string("\xff\xff\xff\x00\x00\x00\xff\xff\xff", 9), 2), "-", ""},
        {"grey with alpha", make_png(3, 2, 4, 8, repeat(std::string("\x40\xc0", 2), 6)), repeat("\x40\x40\x40", 6),
         repeat("\xc0", 6), ""},
        {"JPEG named .png", std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00", 14), "", "", "Not a PNG file!"},
        {"header claiming 100000 x 100000 pixels", make_png(100000, 100000, 6, 8, ""), "", "",
         "The signature image is too large: 100000 x 100000 pixels (at most 10000 on a side and 4000000 in all)."},
        {"pixels missing", header_only, "", "", "Error during png_read_image"},
        {"damaged header", header_only.substr(0, 20), "", "", "Error during png_init_io"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("image.png");
        qstest::write_file(path, c.file);
        const Decoded d = decode(path);
        if (*c.message) {
            EXPECT_EQ(d.rc, -1);
            EXPECT_EQ(d.message, c.message);
            EXPECT_TRUE(d.rgb.empty() && !d.has_alpha);
            continue;
        }
        ASSERT_EQ(d.rc, 0) << d.message;
        EXPECT_EQ(d.width, 3);
        EXPECT_EQ(d.height, 2);
        EXPECT_EQ(d.bits, 8);
        EXPECT_EQ(d.rgb, c.rgb);
        EXPECT_EQ(d.has_alpha, c.alpha != "-");
        if (d.has_alpha) {
            EXPECT_EQ(d.alpha, c.alpha);
        }
    }
    EXPECT_EQ(decode(dir.file("missing.png")).message, "No such file or directory [File: " + dir.file("missing.png") + "]");
    EXPECT_EQ(decode(dir.path()).message, "Not a regular file [File: " + dir.path() + "]");
}

}  // namespace
