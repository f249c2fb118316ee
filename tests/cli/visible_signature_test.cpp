// Visible signatures through the real program: the signed document verifies,
// and rendered beside its input it differs only inside the signature
// rectangle, where the appearance leaves ink on every page that carries it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using qstest::run_cli;
using qstest::shell_quote;
using qstest::TempDir;

constexpr int kDpi = 72;  // one pixel per point
constexpr const char *kTextTemplate = "sigtext=Signed by %N\\nReason: %R\n";

struct Grey {
    int width = 0, height = 0;
    std::string pixels;
};

// One page rendered in grey by pdftoppm.
Grey render(const TempDir &dir, const std::string &pdf, int page) {
    const std::string prefix = dir.file("render");
    qstest::run_shell("pdftoppm -gray -r " + std::to_string(kDpi) + " -f " + std::to_string(page) + " -l " +
                      std::to_string(page) + " -singlefile " + shell_quote(pdf) + " " + shell_quote(prefix) +
                      " 2>/dev/null");
    const std::string pgm = qstest::read_file(prefix + ".pgm");
    Grey g;
    int max = 0, used = 0;
    if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &g.width, &g.height, &max, &used) == 3 && max == 255)
        g.pixels = pgm.substr(static_cast<std::size_t>(used) + 1);
    std::remove((prefix + ".pgm").c_str());
    return g;
}

struct Rect {
    int llx = 0, lly = 0, urx = 0, ury = 0;
};

// The signature rectangle, from the widget written by the update.
Rect widget_rect(const std::string &update) {
    std::smatch m;
    static const std::regex rect("/Rect \\[ (-?[0-9]+) (-?[0-9]+) (-?[0-9]+) (-?[0-9]+) \\]");
    Rect r;
    if (std::regex_search(update, m, rect)) r = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])};
    return r;
}

// Compares the rendered pages: every changed pixel lies inside the rectangle
// (a pixel of rounding allowed), and the rectangle holds changed pixels.
std::string compare_page(const Grey &before, const Grey &after, const Rect &r, int page_height) {
    if (before.pixels.empty() || before.width != after.width || before.height != after.height ||
        before.pixels.size() != after.pixels.size())
        return "the renderings cannot be compared";
    int inside = 0, outside = 0;
    for (int y = 0; y < after.height; ++y) {
        for (int x = 0; x < after.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(after.width) + static_cast<std::size_t>(x);
            if (std::abs(static_cast<unsigned char>(before.pixels[i]) - static_cast<unsigned char>(after.pixels[i])) < 8)
                continue;
            const int px = x, py = page_height - y;  // points from the lower-left corner
            if (px >= r.llx - 1 && px <= r.urx + 1 && py >= r.lly - 1 && py <= r.ury + 1)
                ++inside;
            else
                ++outside;
        }
    }
    if (outside > 0) return std::to_string(outside) + " changed pixels outside the rectangle";
    if (inside == 0) return "no ink inside the rectangle";
    return "";
}

std::string rgba_png() {
    std::string rows;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) rows += std::string{'\xc8', '\x1e', '\x1e', ((x / 20 + y / 20) % 2) ? '\xff' : '\x40'};
    return qstest::make_png(200, 100, 6, 8, rows);
}

TEST(VisibleSignature, SignsAndDrawsOnlyInsideTheRectangle) {
    TempDir dir;
    qstest::write_file(dir.file("seal.png"), rgba_png());
    struct Case {
        const char *name, *input;
        std::string extra;
        int pages;
        const char *font;  // the widget's /DA
    } cases[] = {
        {"plain text", "one-page.pdf", kTextTemplate, 1, "/Helv 0 Tf 0 g"},
        {"RGBA image", "one-page.pdf", std::string(kTextTemplate) + "sigimage=" + dir.file("seal.png") + "\n", 1,
         "/Helv 0 Tf 0 g"},
        {"accented text", "one-page.pdf", "sigtext=Sign\xc3\xa9 \xc3\xa0 Z\xc3\xbcrich par %N\n", 1, "/F1 0 Tf 0 g"},
        {"every page", "ten-pages.pdf", std::string(kTextTemplate) + "sigpage=*\n", 10, "/Helv 0 Tf 0 g"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string input = qstest::fixture(c.input);
        const std::string before = qstest::read_file(input);
        const std::string out = dir.file(std::string("visible-") + c.input);
        const std::string conf = clitest::write_config(dir, "signer.p12", c.extra);
        const auto r = run_cli({"-i", input, "-o", out, "-z", conf, "-v", "-r", "Approval"});
        ASSERT_EQ(r.out.rfind("0#Document signed", 0), 0u) << r.out;
        EXPECT_EQ(clitest::check_signed_output(out), "");
        EXPECT_EQ(qstest::read_file(input), before);
        const std::string update = qstest::read_file(out).substr(before.size());
        EXPECT_NE(update.find(std::string("/DA (") + c.font + ")"), std::string::npos);
        const Rect rect = widget_rect(update);
        for (int page = 1; page <= c.pages; ++page) {
            SCOPED_TRACE("page " + std::to_string(page));
            EXPECT_EQ(compare_page(render(dir, input, page), render(dir, out, page), rect, 842), "");
        }
    }
}

TEST(VisibleSignature, ImageAndFontOutcomes) {
    TempDir dir;
    std::string rows16;
    for (int i = 0; i < 4 * 2; ++i) rows16 += std::string("\x10\x10\x80\x80\xf0\xf0", 6);
    qstest::write_file(dir.file("deep.png"), qstest::make_png(4, 2, 2, 16, rows16));
    qstest::write_file(dir.file("photo.png"), std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00", 14));
    const std::string log = dir.file("debug.log");
    struct Case {
        const char *name;
        std::string extra;
        std::string line;    // the status line, or its start for a signed document
        std::string update;  // text the update must hold when signed
        std::string logged;  // text the debug log must hold
    } cases[] = {
        {"missing font file falls back to Helvetica",
         "sigtext=Sign\xc3\xa9 par %N\nsigfont=" + dir.file("missing.ttf") + "\n", "0#Document signed",
         "/DA (/Helv 0 Tf 0 g)", "Font file " + dir.file("missing.ttf") + " does not exist!..."},
        {"JPEG named .png", "sigimage=" + dir.file("photo.png") + "\n", "-1#Not a PNG file!\n", "", ""},
        {"16-bit PNG is drawn with 8 bits per sample", "sigimage=" + dir.file("deep.png") + "\n", "0#Document signed",
         "/BitsPerComponent 8", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(log.c_str());
        const std::string out = dir.file("out.pdf");
        std::remove(out.c_str());
        const std::string conf = clitest::write_config(dir, "signer.p12", c.extra + "debug=on\nlogfile=" + log + "\n");
        const auto r = run_cli({"-i", qstest::fixture("one-page.pdf"), "-o", out, "-z", conf, "-v"});
        if (c.update.empty()) {
            EXPECT_EQ(r.out, c.line);
            EXPECT_EQ(r.status, 255);
            EXPECT_FALSE(qstest::file_exists(out));
            continue;
        }
        ASSERT_EQ(r.out.rfind(c.line, 0), 0u) << r.out;
        EXPECT_EQ(clitest::check_signed_output(out), "");
        EXPECT_NE(qstest::read_file(out).find(c.update), std::string::npos);
        EXPECT_NE(qstest::read_file(log).find(c.logged), std::string::npos);
    }
}

}  // namespace
