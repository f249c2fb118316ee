// The one-page libharu document of the TrueType route. libharu reports its
// errors through a handler that jumps back to the recovery point; the two
// functions that set it hold only trivially destructible objects and call
// nothing but libharu, so a jump passes over no destructor. Everything with a
// destructor (the document handle, the lines, the result) lives in their caller.
#include "appearance/truetype_document.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <quillseal/appearance.h>
#include <quillseal/core.h>

#include "appearance/content_stream.h"
#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"

namespace {

std::jmp_buf recovery;
// Set only while one of the two functions below runs libharu calls, so that
// the handler never jumps into a frame that has returned.
bool recovery_armed = false;

struct Drawing {
    const char *font = nullptr;
    HPDF_REAL width = 0, height = 0;  // the page
    HPDF_REAL box_height = 0;
    const char *const *lines = nullptr;
    int count = 0;
    HPDF_REAL leading = 0, font_size = 0;
};

void debug(const SigningConfig *config, const char *text) {
    handle_debug_message(const_cast<SigningConfig *>(config), text);
}

// libharu's error handler: records the error in the debug log and returns to
// the recovery point while one is set.
void on_libharu_error(HPDF_STATUS error_no, HPDF_STATUS detail_no, void *user_data) {
    char line[96];
    std::snprintf(line, sizeof line, "ERROR: error_no=%04X, detail_no=%u", static_cast<unsigned>(error_no),
                  static_cast<unsigned>(detail_no));
    handle_debug_message(static_cast<SigningConfig *>(user_data), line);
    if (recovery_armed) std::longjmp(recovery, 1);
}

// Draws the lines on a new page and saves the document into libharu's memory
// stream. Returns the size of the saved document, or 0 after an error.
HPDF_UINT32 draw_and_save(HPDF_Doc pdf, const Drawing &d) {
    if (setjmp(recovery)) {
        recovery_armed = false;
        return 0;
    }
    recovery_armed = true;
    HPDF_SetCompressionMode(pdf, HPDF_COMP_ALL);
    HPDF_UseUTFEncodings(pdf);
    HPDF_SetCurrentEncoder(pdf, "UTF-8");
    const char *name = HPDF_LoadTTFontFromFile(pdf, d.font, HPDF_TRUE);
    HPDF_Page page = HPDF_AddPage(pdf);
    HPDF_Page_SetWidth(page, d.width);
    HPDF_Page_SetHeight(page, d.height);
    HPDF_Font font = HPDF_GetFont(pdf, name, "UTF-8");
    HPDF_Page_SetFontAndSize(page, font, d.font_size);
    HPDF_Page_BeginText(page);
    HPDF_Page_MoveTextPos(page, 2, d.box_height + 2);
    for (int i = 0; i < d.count; ++i) {
        HPDF_Page_MoveTextPos(page, 0, -d.leading);
        HPDF_Page_ShowText(page, d.lines[i]);
    }
    HPDF_Page_EndText(page);
    HPDF_SaveToStream(pdf);
    const HPDF_UINT32 size = HPDF_GetStreamSize(pdf);
    recovery_armed = false;
    return size;
}

// Reads the saved document out of libharu's memory stream into buffer.
bool read_saved(HPDF_Doc pdf, HPDF_BYTE *buffer, HPDF_UINT32 size) {
    if (setjmp(recovery)) {
        recovery_armed = false;
        return false;
    }
    recovery_armed = true;
    HPDF_ResetStream(pdf);
    HPDF_UINT32 read = size;
    const bool complete = HPDF_ReadFromStream(pdf, buffer, &read) == HPDF_OK && read == size;
    recovery_armed = false;
    return complete;
}

bool is_regular_file(const char *path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// libharu takes page sides from 3 to 14400 units; the page only carries the
// text, so a page box outside that range is held at its limits.
HPDF_REAL page_side(int side) { return static_cast<HPDF_REAL>(std::clamp(side, HPDF_MIN_PAGE_SIZE, HPDF_MAX_PAGE_SIZE)); }

}  // namespace

namespace qs {

bool needs_truetype(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string truetype_font_path(const SigningConfig &config) {
    if (config.sigfont[0] != '\0') {
        if (is_regular_file(config.sigfont)) return config.sigfont;
        debug(&config, format("Font file %s does not exist!...", config.sigfont).c_str());
        return std::string();
    }
    for (const char *path : kDefaultFontPaths)
        if (is_regular_file(path)) return path;
    debug(&config, format("Font file %s does not exist!...", kDefaultFontPaths[0]).c_str());
    return std::string();
}

bool truetype_document(const SigningConfig *config, std::string_view text, const char *font, int W, int H, int h,
                       std::string &pdf) {
    const TextLayout layout = layout_text(text, h);
    std::vector<const char *> lines;
    for (const std::string &line : layout.lines) lines.push_back(line.c_str());
    Drawing drawing;
    drawing.font = font;
    drawing.width = page_side(W);
    drawing.height = page_side(H);
    drawing.box_height = static_cast<HPDF_REAL>(h);
    drawing.lines = lines.data();
    drawing.count = static_cast<int>(lines.size());
    drawing.leading = static_cast<HPDF_REAL>(layout.leading);
    drawing.font_size = static_cast<HPDF_REAL>(layout.font_size);

    HpdfDocPtr doc(HPDF_New(on_libharu_error, const_cast<SigningConfig *>(config)));
    if (!doc) {
        debug(config, "libharu error: cannot create PdfDoc object");
        return false;
    }
    const HPDF_UINT32 size = draw_and_save(doc.get(), drawing);
    if (size == 0) {
        debug(config, "libharu error: internal issue...");
        return false;
    }
    std::vector<HPDF_BYTE> saved(size);
    if (!read_saved(doc.get(), saved.data(), size)) {
        debug(config, "libharu error: unable to read stream...");
        return false;
    }
    pdf.assign(reinterpret_cast<const char *>(saved.data()), saved.size());
    return true;
}

}  // namespace qs

extern "C" {

QS_API void error_handler(unsigned long error_no, unsigned long detail_no, void *user_data) {
    on_libharu_error(error_no, detail_no, user_data);
}

QS_API int libharu_produce_document(SigningConfig *config, const char *text, const char *font, int W, int H, int x,
                                    int y, int w, int h, unsigned char **pdf, int *length) {
    (void)x, (void)y, (void)w;
    return qs::guarded([&]() -> int {
        if (!font || !pdf || !length) {
            qs::report("Missing font path or result places for the libharu document.");
            return -1;
        }
        std::string document;
        if (!qs::truetype_document(config, qs::view(text), font, W, H, h, document)) return -1;
        if (document.size() > static_cast<std::size_t>(INT_MAX)) return -1;
        auto *out = static_cast<unsigned char *>(std::malloc(document.size()));
        if (!out) {
            qs::report("Out of memory while producing the libharu document.");
            return -1;
        }
        std::memcpy(out, document.data(), document.size());
        *pdf = out;
        *length = static_cast<int>(document.size());
        return 0;
    });
}

}  // extern "C"
