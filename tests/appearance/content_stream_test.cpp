// The content layer's stream byte for byte, and the Flate routines it is
// compressed with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include <quillseal/quillseal.h>

#include "appearance/content_stream.h"

namespace {

// The stream as prepare_visible_signature_stream hands it out, decompressed again.
std::string prepared(const char *text, int image, int w, int h, int iw, int ih, const std::string &truetype = "") {
    unsigned char *stream = reinterpret_cast<unsigned char *>(const_cast<char *>(truetype.data()));
    int length = static_cast<int>(truetype.size());
    EXPECT_EQ(prepare_visible_signature_stream(text, image, w, h, iw, ih, &stream, &length), 0);
    if (!stream) return "(no stream)";
    unsigned char *plain = flate_decode(stream, &length);
    std::free(stream);
    if (!plain) return "(not a zlib stream)";
    std::string out(reinterpret_cast<char *>(plain), static_cast<std::size_t>(length));
    std::free(plain);
    return out;
}

TEST(ContentStream, ByteForms) {
    struct Case {
        const char *name, *text;
        int image, w, h, iw, ih;
        const char *truetype, *expected;
    } cases[] = {
        {"three lines", "first\nsecond\nthird", 0, 130, 40, 0, 0, "",
         "BT /Helv 10 Tf 0 g 2 29 Td (first) Tj 0 -13 TD (second) Tj T* (third) Tj ET"},
        {"one line", "only", 0, 130, 40, 0, 0, "", "BT /Helv 32 Tf 0 g 2 8 Td (only) Tj ET"},
        {"carriage returns before line ends", "a\r\nb\r", 0, 130, 40, 0, 0, "",
         "BT /Helv 16 Tf 0 g 2 24 Td (a) Tj 0 -20 TD (b) Tj ET"},
        {"text ending in a line break", "a\r\n", 0, 130, 40, 0, 0, "",
         "BT /Helv 16 Tf 0 g 2 24 Td (a) Tj 0 -20 TD () Tj ET"},
        {"escapes", "a(b\\c)", 0, 130, 40, 0, 0, "", "BT /Helv 32 Tf 0 g 2 8 Td (a\\(b\\\\c\\)) Tj ET"},
        {"bytes beyond ASCII unchanged", "caf\xe9", 0, 130, 40, 0, 0, "",
         "BT /Helv 32 Tf 0 g 2 8 Td (caf\xe9) Tj ET"},
        // More lines than the box is high: leading 0, and the font size held at 1.
        {"more lines than units", "a\nb\nc\nd\ne", 0, 130, 4, 0, 0, "",
         "BT /Helv 1 Tf 0 g 2 -1 Td (a) Tj 0 -0 TD (b) Tj T* (c) Tj T* (d) Tj T* (e) Tj ET"},
        {"image fills the height", "x", 1, 130, 40, 200, 100, "",
         "q 80.0 0 0 40.0 25.0 0 cm /Im0 Do Q BT /Helv 32 Tf 0 g 2 8 Td (x) Tj ET"},
        {"image fills the width", "x", 1, 130, 40, 400, 100, "",
         "q 130.0 0 0 32.5 0 3.8 cm /Im0 Do Q BT /Helv 32 Tf 0 g 2 8 Td (x) Tj ET"},
        {"equal ratios", "x", 1, 130, 40, 260, 80, "",
         "q 130.0 0 0 40.0 0 0.0 cm /Im0 Do Q BT /Helv 32 Tf 0 g 2 8 Td (x) Tj ET"},
        {"image flag without a size draws no image", "x", 1, 130, 40, 0, 0, "",
         "BT /Helv 32 Tf 0 g 2 8 Td (x) Tj ET"},
        {"TrueType drawing in place of the text", "ignored", 1, 130, 40, 200, 100, "BT /F1 32 Tf ET\n",
         "q 80.0 0 0 40.0 25.0 0 cm /Im0 Do Q BT /F1 32 Tf ET\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qs::content_stream(c.text, c.image != 0, c.w, c.h, c.iw, c.ih, c.truetype), c.expected);
        EXPECT_EQ(prepared(c.text, c.image, c.w, c.h, c.iw, c.ih, c.truetype), c.expected);
    }
}

TEST(Flate, RoundTripsAndRefusesWhatIsNoZlibStream) {
    std::mt19937 random(7);
    std::string noise(20000, '\0');
    for (char &c : noise) c = static_cast<char>(random());
    for (const std::string &data : {std::string("BT /Helv 10 Tf ET"), noise}) {
        int length = static_cast<int>(data.size());
        unsigned char *packed = flate_encode(reinterpret_cast<const unsigned char *>(data.data()), &length);
        ASSERT_NE(packed, nullptr);
        // Noise does not shrink: its output spans more than one 16 KiB chunk.
        if (data.size() == noise.size()) {
            EXPECT_GT(length, 16384);
        }
        unsigned char *plain = flate_decode(packed, &length);
        std::free(packed);
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(plain), static_cast<std::size_t>(length)), data);
        std::free(plain);
    }
    // Length 0 takes the text up to its NUL.
    int length = 0;
    unsigned char *packed = flate_encode(reinterpret_cast<const unsigned char *>("% DSBlank "), &length);
    ASSERT_NE(packed, nullptr);
    unsigned char *plain = flate_decode(packed, &length);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(plain), static_cast<std::size_t>(length)), "% DSBlank ");
    // A stream cut short and bytes that are no zlib stream give nothing.
    length = 4;
    EXPECT_EQ(flate_decode(packed, &length), nullptr);
    length = 5;
    EXPECT_EQ(flate_decode(reinterpret_cast<const unsigned char *>("plain"), &length), nullptr);
    std::free(packed);
    std::free(plain);
}

}  // namespace
