// The page count and document information text of get_metadata, on documents
// written by hand, by ghostscript and by qpdf.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace {

using qstest::make_pdf;

const std::string kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string kPages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const std::string kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>";

// A one-page document whose information dictionary (object 4) is info.
std::string with_info(const std::string &info) {
    return make_pdf({kCatalog, kPages, kPage, info}, "/Info 4 0 R");
}

std::string utf16_hex(const std::u16string &text) {
    std::string hex = "<FEFF";
    char unit[5];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex + ">";
}

struct Case {
    const char *name;
    std::string document;  // bytes of the document, "fixture:<name>" or "path:<path>"
    const char *password;
    int result;
    std::string text;  // the metadata text, or the beginning of the message on failure
};

std::string path_of(const qstest::TempDir &dir, const Case &c) {
    if (c.document.rfind("fixture:", 0) == 0) return qstest::fixture(c.document.substr(8));
    if (c.document.rfind("path:", 0) == 0) return c.document.substr(5);
    qstest::write_file(dir.file("doc.pdf"), c.document);
    return dir.file("doc.pdf");
}

TEST(Metadata, PagesAndInformationAsUtf8Text) {
    qstest::TempDir dir;
    const std::string long_title(300, 'T'), long_keywords(600, 'k');
    const std::string e_acute = "\xc3\xa9";
    std::string cut_title;
    for (int i = 0; i < 127; ++i) cut_title += e_acute;  // 254 bytes: a 128th would not fit in 255
    const std::string encrypted = dir.file("encrypted.pdf");
    qstest::write_file(dir.file("plain.pdf"), with_info("<< /Title (Secret plans) >>"));
    qstest::run_shell("qpdf --encrypt user-pw owner-pw 256 -- " + dir.file("plain.pdf") + " " + encrypted);
    // Texts beyond ASCII given when signing come back as they were given.
    const std::string signed_doc = dir.file("signed.pdf");
    const std::string title = "Gr\xc3\xb6\xc3\x9f" "e \xe2\x80\x94 \xf0\x9f\x98\x80", author = "Zo\xc3\xab";
    qstest::run_cli({"-i", qstest::fixture("one-page.pdf"), "-o", signed_doc, "-z",
                     qstest::write_signing_config(dir), "-t", title, "-a", author});
    const Case cases[] = {
        {"texts given when signing", "path:" + signed_doc, "", 0, "1|" + title + "|" + author + "||"},
        {"all four texts", with_info("<< /Title (Contract) /Author (Ann) /Subject (Sale) /Keywords (a, b) >>"), "",
         0, "1|Contract|Ann|Sale|a, b"},
        {"no information dictionary", "fixture:noinfo.pdf", "", 0, "1||||"},
        {"ten pages from ghostscript", "fixture:ten-pages.pdf", "", 0, "10||||"},
        {"UTF-16BE title with a character beyond the BMP",
         with_info("<< /Title " + utf16_hex(u"\u00c4rger \U0001F600") + " >>"), "", 0,
         "1|\xc3\x84rger \xf0\x9f\x98\x80|||"},
        {"PDFDocEncoding title", with_info("<< /Title (Gr\\366\\337e \\204 Test) >>"), "", 0,
         "1|Gr\xc3\xb6\xc3\x9f" "e \xe2\x80\x94 Test|||"},
        {"separator inside the title", with_info("<< /Title (Part A|Part B) /Author (Ann) >>"), "", 0,
         "1|Part A|Part B|Ann||"},
        {"null and non-text entries", with_info("<< /Title null /Author 42 /Subject /Name >>"), "", 0, "1||||"},
        {"title longer than its buffer", with_info("<< /Title (" + long_title + ") >>"), "", 0,
         "1|" + long_title.substr(0, 255) + "|||"},
        {"cut between characters, never inside one",
         with_info("<< /Title " + utf16_hex(std::u16string(200, u'\u00e9')) + " >>"), "", 0,
         "1|" + cut_title + "|||"},
        {"whole text cut to 511 bytes",
         with_info("<< /Title (" + long_title + ") /Keywords (" + long_keywords + ") >>"), "", 0,
         ("1|" + long_title.substr(0, 255) + "|||" + long_keywords).substr(0, 511)},
        {"encrypted, with its password", "path:" + encrypted, "user-pw", 0, "1|Secret plans|||"},
        {"encrypted, wrong password", "path:" + encrypted, "wrong", -1, "The document cannot be read: "},
        {"not a PDF", "just text\n", "", -1, "The document cannot be read: "},
        {"missing file", "fixture:no-such.pdf", "", -1, "No such file or directory [File: "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = path_of(dir, c);
        char out[512];
        const int rc = get_metadata(path.c_str(), c.password, out);
        char message[256];
        handle_error_message(message, 0);
        EXPECT_EQ(rc, c.result);
        if (c.result == 0)
            EXPECT_EQ(std::string(out), c.text);
        else
            EXPECT_EQ(std::string(message).rfind(c.text, 0), 0u) << message;
    }
}

}  // namespace
