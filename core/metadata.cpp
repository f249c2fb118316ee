// The page count and document information of a PDF: open it, read the pages
// and the four texts of /Info through qpdf, and format them as one text.
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "pdf/qpdf_api.h"

namespace {

constexpr std::size_t kMetadataText = 512;

struct Metadata {
    int pages = -1;
    std::string title, author, subject, keywords;
};

// Copies text into a field of capacity bytes, cut at a character boundary.
void copy_text(char *field, std::size_t capacity, std::string_view text) {
    if (!field) return;
    qs::copy_bounded(field, capacity, qs::cut_text(text, capacity - 1));
}

// An entry of the information dictionary as UTF-8 (PDFDocEncoding and
// UTF-16BE strings both decoded); absent, null or not a string reads as empty.
std::string info_text(QPDFObjectHandle info, const char *key) {
    if (!info.isDictionary()) return "";
    QPDFObjectHandle value = info.getKey(key);
    return value.isString() ? value.getUTF8Value() : "";
}

int read_metadata(std::FILE *file, const char *password, Metadata &out) {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    try {
        pdf.processFile("original_file", file, false, password ? password : "");
        const std::size_t pages = pdf.getAllPages().size();
        out.pages = pages > INT_MAX ? INT_MAX : static_cast<int>(pages);
        QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
        out.title = info_text(info, "/Title");
        out.author = info_text(info, "/Author");
        out.subject = info_text(info, "/Subject");
        out.keywords = info_text(info, "/Keywords");
    } catch (const QPDFExc &e) {
        qs::report("The document cannot be read: " + e.getMessageDetail());
        return -1;
    } catch (const std::exception &e) {
        qs::report(std::string("The document cannot be read: ") + e.what());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

QS_API void qpdf_get_metadata(FILE *file, const char *password, int *pages, char *title, char *author,
                              char *subject, char *keywords) {
    const auto store = [&](const Metadata &metadata) {
        if (pages) *pages = metadata.pages;
        copy_text(title, qs::kTextField, metadata.title);
        copy_text(author, qs::kTextField, metadata.author);
        copy_text(subject, qs::kTextField, metadata.subject);
        copy_text(keywords, kMetadataText, metadata.keywords);
    };
    qs::guarded([&]() {
        store(Metadata());  // what a failure leaves: no pages, empty texts
        Metadata metadata;
        if (!file) {
            qs::report("No document to read the information of was given.");
            return;
        }
        if (read_metadata(file, password, metadata) == 0) store(metadata);
    });
}

QS_API int get_metadata(const char *path, const char *password, char *out) {
    return qs::guarded([&]() -> int {
        if (!out) {
            qs::report("No place for the document information was given.");
            return -1;
        }
        out[0] = '\0';
        qs::FilePtr file = qs::open_input_file(path);
        if (!file) return -1;

        int pages = -1;
        char title[qs::kTextField], author[qs::kTextField], subject[qs::kTextField], keywords[kMetadataText];
        qpdf_get_metadata(file.get(), password, &pages, title, author, subject, keywords);
        if (pages < 0) return -1;

        const std::string text = qs::format("%d|%s|%s|%s|%s", pages, title, author, subject, keywords);
        copy_text(out, kMetadataText, text);
        return 0;
    });
}

}  // extern "C"
