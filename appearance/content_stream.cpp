// The content layer's stream, byte for byte: image placement, then the text
// lines with their leading and font size.
#include "appearance/content_stream.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <quillseal/appearance.h>

#include "appearance/flate.h"
#include "core/base/guard.h"
#include "core/base/text.h"

namespace {

// A line as the body of a PDF literal string.
std::string literal(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (c == '\\' || c == '(' || c == ')') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

namespace qs {

TextLayout layout_text(std::string_view text, int h) {
    TextLayout layout;
    for (;;) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        layout.lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    const int n = static_cast<int>(std::min<std::size_t>(layout.lines.size(), INT_MAX));
    layout.leading = std::max(h, 0) / n;
    int size = static_cast<int>(layout.leading * 0.8);
    if (size == layout.leading) --size;
    // More lines than the box has units of height leave no room at all; the
    // text is still drawn, at the smallest size a font can have.
    layout.font_size = std::max(size, 1);
    return layout;
}

std::string image_placement(int w, int h, int iw, int ih) {
    if (w <= 0 || h <= 0 || iw <= 0 || ih <= 0) return std::string();
    const double box = static_cast<double>(w) / h;
    const double picture = static_cast<double>(iw) / ih;
    std::string matrix;
    if (box > picture) {
        const double sw = static_cast<double>(iw) * h / ih;
        matrix = format("%.1f 0 0 %.1f %.1f 0", sw, static_cast<double>(h), (w - sw) / 2);
    } else {
        const double sh = static_cast<double>(ih) * w / iw;
        matrix = format("%.1f 0 0 %.1f 0 %.1f", static_cast<double>(w), sh, (h - sh) / 2);
    }
    return "q " + matrix + " cm /Im0 Do Q ";
}

std::string helvetica_text(std::string_view text, int h) {
    const TextLayout layout = layout_text(text, h);
    const long long lines = static_cast<long long>(layout.lines.size());
    std::string out = format("BT /Helv %d Tf 0 g 2 %lld ", layout.font_size,
                             lines * layout.leading - layout.font_size);
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        const std::string line = literal(layout.lines[i]);
        if (i == 0)
            out += "Td (" + line + ") Tj ";
        else if (i == 1)
            out += format("0 -%d TD (", layout.leading) + line + ") Tj ";
        else
            out += "T* (" + line + ") Tj ";
    }
    return out + "ET";
}

std::string content_stream(std::string_view text, bool image, int w, int h, int iw, int ih,
                           std::string_view truetype) {
    std::string out;
    if (image) out = image_placement(w, h, iw, ih);
    if (!truetype.empty())
        out.append(truetype.data(), truetype.size());
    else
        out += helvetica_text(text, h);
    return out;
}

}  // namespace qs

extern "C" {

QS_API int prepare_visible_signature_stream(const char *text, int image, int w, int h, int iw, int ih,
                                            unsigned char **stream, int *length) {
    return qs::guarded([&]() -> int {
        if (!stream || !length) {
            qs::report("No place was given for the signature's content stream.");
            return -1;
        }
        std::string_view truetype;
        if (*length > 0 && *stream)
            truetype = std::string_view(reinterpret_cast<const char *>(*stream), static_cast<std::size_t>(*length));
        const std::string content = qs::content_stream(qs::view(text), image != 0, w, h, iw, ih, truetype);
        *stream = nullptr;
        *length = 0;
        const std::string packed = qs::deflate_bytes(content);
        if (packed.size() > static_cast<std::size_t>(INT_MAX)) return 0;
        auto *out = static_cast<unsigned char *>(std::malloc(packed.size()));
        if (!out) return 0;
        std::memcpy(out, packed.data(), packed.size());
        *stream = out;
        *length = static_cast<int>(packed.size());
        return 0;
    });
}

}  // extern "C"
