// The appearance objects of a visible signature, read back with qpdf from a
// document with the update appended: the widget's /AP, /DR and /DA, the
// layers, the image and soft mask, the font of each mode, and the form's /DR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <quillseal/quillseal.h>

#include "appearance/truetype_document.h"
#include "pdf/qpdf_api.h"
#include "pdf_test_util.h"

namespace {

struct ConfigDeleter {
    void operator()(SigningConfig *c) const { free_config(c); }
};

struct Visible {
    std::string sigtext = "Signed by %N\nReason: %R";
    std::string sigfont;
    int iw = 0, ih = 0;
    std::string rgb, alpha;  // planes; no image when rgb is empty, opaque when alpha is empty
};

Visible text(const std::string &sigtext, const std::string &sigfont = "") {
    Visible v;
    v.sigtext = sigtext;
    v.sigfont = sigfont;
    return v;
}

Visible picture(int iw, int ih, const std::string &rgb, const std::string &alpha) {
    Visible v;
    v.iw = iw;
    v.ih = ih;
    v.rgb = rgb;
    v.alpha = alpha;
    return v;
}

struct Appended {
    std::string update;  // the update's bytes
    std::string path;    // input followed by the update
    std::string log;     // the debug log
    std::string message;
};

Appended append_visible(const qstest::TempDir &dir, const std::string &input, const Visible &v) {
    std::unique_ptr<SigningConfig, ConfigDeleter> config(init_config(nullptr));
    std::snprintf(config->sigrect, sizeof config->sigrect, "[-170 -80 -40 -40]");
    std::snprintf(config->sigtext, sizeof config->sigtext, "%s", v.sigtext.c_str());
    std::snprintf(config->sigfont, sizeof config->sigfont, "%s", v.sigfont.c_str());
    std::snprintf(config->debug, sizeof config->debug, "on");
    std::snprintf(config->logfile, sizeof config->logfile, "%s", dir.file("debug.log").c_str());
    std::remove(dir.file("debug.log").c_str());
    Appended out;
    pdftest::File in = pdftest::open_read(input);
    long length = -1, a = 0, c = 0;
    auto *rgb = reinterpret_cast<unsigned char *>(const_cast<char *>(v.rgb.data()));
    auto *alpha = reinterpret_cast<unsigned char *>(const_cast<char *>(v.alpha.data()));
    char *update = qpdf_incremental_update(config.get(), in.get(), "", &length, nullptr, nullptr, nullptr, nullptr,
                                           &a, &c, 8192, 1, 0, "Approval", "Berlin", "Test Signer", 1, "0A1B",
                                           v.rgb.empty() ? 0 : 1, v.iw, v.ih, rgb, v.alpha.empty() ? nullptr : alpha, 8);
    char text[256];
    handle_error_message(text, 0);
    out.message = text;
    if (update) out.update.assign(update, static_cast<std::size_t>(length));
    std::free(update);
    out.path = dir.file("visible.pdf");
    qstest::write_file(out.path, qstest::read_file(input) + out.update);
    out.log = qstest::read_file(dir.file("debug.log"));
    return out;
}

std::string stream_text(QPDFObjectHandle stream) {
    std::shared_ptr<Buffer> data = stream.getStreamData(qpdf_dl_generalized);
    return std::string(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
}

QPDFObjectHandle newest_field(QPDF &pdf) {
    return pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0);
}

std::string check(const std::string &path) {
    const auto r = qstest::run_shell("qpdf --check " + qstest::shell_quote(path) + " 2>&1");
    return r.status == 0 ? "" : r.out;
}

TEST(AppearanceObjects, LayersFontsAndImage) {
    qstest::TempDir dir;
    const bool have_font = !qs::truetype_font_path(*std::unique_ptr<SigningConfig, ConfigDeleter>(init_config(nullptr))).empty();
    ASSERT_TRUE(have_font) << "fonts-dejavu-core is not installed";
    qstest::write_file(dir.file("not-a-font.ttf"), "no font tables");
    const std::string helvetica_text =
        "BT /Helv 16 Tf 0 g 2 24 Td (Signed by Test Signer) Tj 0 -20 TD (Reason: Approval) Tj ET";
    struct Case {
        const char *name;
        Visible visible;
        const char *font;         // "/Helv" or "/F1"
        std::string content;      // the content layer's stream, or "" when not pinned
        const char *procset;      // the content layer's /ProcSet
        bool image, soft_mask;
        std::string logged;       // a line expected in the debug log, or "" for an empty log
    } cases[] = {
        {"plain text", {}, "/Helv", helvetica_text, "[ /PDF /Text ]", false, false, ""},
        {"plain text never calls libharu", text("Signed by %N", dir.file("not-a-font.ttf")), "/Helv",
         "BT /Helv 32 Tf 0 g 2 8 Td (Signed by Test Signer) Tj ET", "[ /PDF /Text ]", false, false, ""},
        {"opaque image", picture(2, 1, std::string(6, '\x7f'), ""), "/Helv",
         "q 80.0 0 0 40.0 25.0 0 cm /Im0 Do Q " + helvetica_text, "[ /PDF /Text /ImageC ]", true, false, ""},
        {"image with alpha", picture(1, 2, std::string(6, '\x7f'), "\x10\xff"), "/Helv",
         "q 20.0 0 0 40.0 55.0 0 cm /Im0 Do Q " + helvetica_text, "[ /PDF /Text /ImageC ]", true, true, ""},
        {"accented text", text("Sign\xc3\xa9 par %N"), "/F1", "", "[ /PDF /Text ]", false, false, ""},
        {"accented text, font file missing", text("Sign\xc3\xa9 par %N", dir.file("missing.ttf")), "/Helv",
         "BT /Helv 32 Tf 0 g 2 8 Td (Sign\xc3\xa9 par Test Signer) Tj ET", "[ /PDF /Text ]", false, false,
         "Font file " + dir.file("missing.ttf") + " does not exist!..."},
        {"accented text, libharu fails", text("Sign\xc3\xa9", dir.file("not-a-font.ttf")), "/Helv", "", "[ /PDF /Text ]",
         false, false, "libharu error: internal issue..."},
        {"Latin-1 text is drawn with Helvetica", text("Sign\xe9"), "/Helv", "BT /Helv 32 Tf 0 g 2 8 Td (Sign\xe9) Tj ET",
         "[ /PDF /Text ]", false, false, "The signature text is not UTF-8; it is drawn with Helvetica."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Appended out = append_visible(dir, qstest::fixture("one-page.pdf"), c.visible);
        ASSERT_FALSE(out.update.empty()) << out.message;
        EXPECT_EQ(check(out.path), "");
        if (c.logged.empty())
            EXPECT_EQ(out.log, "");
        else
            EXPECT_NE(out.log.find("[core]: " + c.logged + "\n"), std::string::npos) << out.log;

        QPDF pdf;
        pdf.processFile(out.path.c_str());
        QPDFObjectHandle widget = newest_field(pdf);
        EXPECT_EQ(widget.getKey("/DA").getStringValue(), std::string(c.font) + " 0 Tf 0 g");
        QPDFObjectHandle font = widget.getKey("/DR").getKey("/Font").getKey(c.font);
        ASSERT_TRUE(font.isIndirect());
        EXPECT_EQ(pdf.getRoot().getKey("/AcroForm").getKey("/DR").getKey("/Font").getKey(c.font).getObjGen(),
                  font.getObjGen());
        EXPECT_EQ(font.getKey("/Subtype").getName(), c.font == std::string("/F1") ? "/Type0" : "/Type1");

        QPDFObjectHandle outer = widget.getKey("/AP").getKey("/N");
        EXPECT_EQ(outer.getDict().getKey("/BBox").unparse(), "[ 0 0 130 40 ]");
        EXPECT_EQ(stream_text(outer), "/FRM Do");
        QPDFObjectHandle frame = outer.getDict().getKey("/Resources").getKey("/XObject").getKey("/FRM");
        EXPECT_EQ(frame.getDict().getKey("/BBox").unparse(), "[ 0 0 130 40 ]");
        EXPECT_EQ(stream_text(frame), "q 1 0 0 1 0 0 cm /n0 Do Q q 1 0 0 1 0 0 cm /n2 Do Q ");
        QPDFObjectHandle layers = frame.getDict().getKey("/Resources").getKey("/XObject");
        EXPECT_EQ(stream_text(layers.getKey("/n0")), "% DSBlank ");
        EXPECT_EQ(layers.getKey("/n0").getDict().getKey("/BBox").unparse(), "[ 0 0 100 100 ]");
        QPDFObjectHandle layer = layers.getKey("/n2");
        EXPECT_EQ(layer.getDict().getKey("/BBox").unparse(), "[ 1 1 129 39 ]");
        if (!c.content.empty()) {
            EXPECT_EQ(stream_text(layer), c.content);
        }
        QPDFObjectHandle resources = layer.getDict().getKey("/Resources");
        EXPECT_EQ(resources.getKey("/ProcSet").unparse(), c.procset);
        EXPECT_EQ(resources.getKey("/Font").getKey(c.font).getObjGen(), font.getObjGen());
        EXPECT_EQ(resources.hasKey("/XObject"), c.image);
        if (c.image) {
            QPDFObjectHandle image = resources.getKey("/XObject").getKey("/Im0");
            EXPECT_EQ(stream_text(image), c.visible.rgb);
            EXPECT_EQ(image.getDict().getKey("/BitsPerComponent").getIntValue(), 8);
            QPDFObjectHandle mask = image.getDict().getKey("/SMask");
            EXPECT_EQ(mask.isIndirect(), c.soft_mask);
            // The soft mask is written first.
            if (c.soft_mask) {
                EXPECT_EQ(stream_text(mask), c.visible.alpha);
                EXPECT_EQ(mask.getObjectID() + 1, image.getObjectID());
            }
        }
        // Only the outer form frames its data with "\r\n" on both sides.
        const std::size_t at = out.update.find("\n" + std::to_string(outer.getObjectID()) + " 0 obj\n");
        ASSERT_NE(at, std::string::npos);
        const std::string outer_text = out.update.substr(at, out.update.find("endobj\n", at) + 7 - at);
        EXPECT_NE(outer_text.find(">>\nstream\r\n"), std::string::npos) << outer_text;
        EXPECT_EQ(outer_text.substr(outer_text.size() - 19), "\r\nendstream\nendobj\n");
        EXPECT_EQ(out.update.find("\nstream\r\n"), out.update.find("\nstream\r\n", at));
        EXPECT_EQ(out.update.find("\nstream\r\n", at + outer_text.size()), std::string::npos);
    }
}

TEST(AppearanceObjects, FormDefaultResourcesDirectOrIndirect) {
    qstest::TempDir dir;
    const std::string catalog = "<< /Type /Catalog /Pages 2 0 R /AcroForm ";
    const std::string pages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>";
    const std::string zadb = "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>";
    struct Case {
        const char *name;
        std::vector<std::string> objects;
        int rewritten;  // the old object that must be written again, or 0
    } cases[] = {
        {"no /DR", {catalog + "<< /Fields [] >> >>", pages, page}, 0},
        {"direct /DR", {catalog + "<< /DR << /Font << /ZaDb 4 0 R >> >> >> >>", pages, page, zadb}, 0},
        {"indirect /DR", {catalog + "<< /DR 5 0 R >> >>", pages, page, zadb, "<< /Font << /ZaDb 4 0 R >> >>"}, 5},
        {"indirect /DR /Font", {catalog + "<< /DR << /Font 5 0 R >> >> >>", pages, page, zadb, "<< /ZaDb 4 0 R >>"}, 5},
        {"both indirect", {catalog + "<< /DR 6 0 R >> >>", pages, page, zadb, "<< /ZaDb 4 0 R >>", "<< /Font 5 0 R >>"}, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        qstest::write_file(dir.file("form.pdf"), pdftest::make_pdf(c.objects));
        const Appended out = append_visible(dir, dir.file("form.pdf"), {});
        ASSERT_FALSE(out.update.empty()) << out.message;
        EXPECT_EQ(check(out.path), "");
        QPDF pdf;
        pdf.processFile(out.path.c_str());
        QPDFObjectHandle fonts = pdf.getRoot().getKey("/AcroForm").getKey("/DR").getKey("/Font");
        EXPECT_EQ(fonts.getKey("/Helv").getObjGen(),
                  newest_field(pdf).getKey("/DR").getKey("/Font").getKey("/Helv").getObjGen());
        if (c.objects.size() > 3) {
            EXPECT_EQ(fonts.getKey("/ZaDb").getObjectID(), 4);
        }
        if (c.rewritten) {
            EXPECT_NE(out.update.find("\n" + std::to_string(c.rewritten) + " 0 obj\n"), std::string::npos);
        }
    }
}

}  // namespace
