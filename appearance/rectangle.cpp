// The signature rectangle on its page.
#include "appearance/rectangle.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <quillseal/appearance.h>

#include "core/base/guard.h"
#include "core/base/text.h"

namespace {

using Wide = std::int64_t;

int clamp_to_int(Wide v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Splits the numbers of a bracketed text: each ends at the next blank, the
// last at the closing bracket. Returns how many numbers were found.
template <typename Sink>
int split_numbers(std::string_view text, std::size_t pos, Sink &&sink) {
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = text.find(i < 3 ? ' ' : ']', pos);
        if (end == std::string_view::npos) return i;
        sink(i, text.substr(pos, end - pos));
        pos = end + 1;
    }
    return 4;
}

// The wide form of the rectangle keeps the corrections free of overflow.
struct WideRect {
    Wide llx, lly, urx, ury;
};

WideRect wide_default(Wide w, Wide h) { return {w - 170, h - 80, w - 40, h - 40}; }

void restore_inverted_axes(WideRect &r, Wide w, Wide h) {
    const WideRect d = wide_default(w, h);
    if (r.llx > r.urx) {
        r.llx = d.llx;
        r.urx = d.urx;
    }
    if (r.lly > r.ury) {
        r.lly = d.lly;
        r.ury = d.ury;
    }
}

void correct(WideRect &r, Wide w, Wide h) {
    if (r.llx <= 4) r.llx = 5;
    if (r.lly <= 4) r.lly = 5;
    restore_inverted_axes(r, w, h);
    if (r.urx > w - 5) r.urx = w - 5;
    if (r.ury > h - 5) r.ury = h - 5;
    // A lower-left corner within 5 units of the right or top edge would leave a
    // negative width or height after the clamp; that axis takes the default.
    restore_inverted_axes(r, w, h);
}

}  // namespace

namespace qs {

int leading_int(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    Wide value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= Wide(INT_MAX) + 1) value = value * 10 + (text[i] - '0');
    }
    return clamp_to_int(negative ? -value : value);
}

bool read_page_box(std::string_view box, PageSize &size) {
    std::size_t pos = box.find('[');
    if (pos == std::string_view::npos) return false;
    ++pos;
    while (pos < box.size() && box[pos] == ' ') ++pos;
    PageSize read;
    const int found = split_numbers(box, pos, [&](int i, std::string_view number) {
        if (i == 2) read.width = leading_int(number);
        if (i == 3) read.height = leading_int(number);
    });
    if (found < 4) return false;
    size = read;
    return true;
}

SigRect default_sig_rect(PageSize page) {
    const WideRect d = wide_default(page.width, page.height);
    return {clamp_to_int(d.llx), clamp_to_int(d.lly), clamp_to_int(d.urx), clamp_to_int(d.ury)};
}

SigRect place_sig_rect(std::string_view sigrect, PageSize page) {
    const Wide w = page.width, h = page.height;
    WideRect r = wide_default(w, h);
    const std::size_t open = sigrect.find('[');
    if (open != std::string_view::npos) {
        Wide *slots[4] = {&r.llx, &r.lly, &r.urx, &r.ury};
        split_numbers(sigrect, open + 1, [&](int i, std::string_view number) {
            Wide v = leading_int(number);
            if (v < 0) v += (i % 2 == 0) ? w : h;
            *slots[i] = v;
        });
    }
    correct(r, w, h);
    return {clamp_to_int(r.llx), clamp_to_int(r.lly), clamp_to_int(r.urx), clamp_to_int(r.ury)};
}

}  // namespace qs

extern "C" {

QS_API int *validate_sig_rect(const char *sigrect, const char *pagebox) {
    return qs::guarded_ptr([&]() -> int * {
        qs::PageSize page;
        if (!qs::read_page_box(qs::view(pagebox), page)) {
            std::string shown(qs::view(pagebox).substr(0, 64));
            qs::report("The page size cannot be read from the page box \"" + shown +
                       "\": it does not hold four numbers.");
            return nullptr;
        }
        const qs::SigRect r = qs::place_sig_rect(qs::view(sigrect), page);
        int *out = static_cast<int *>(std::malloc(4 * sizeof(int)));
        if (!out) {
            qs::report("Out of memory while placing the signature rectangle.");
            return nullptr;
        }
        out[0] = r.llx;
        out[1] = r.lly;
        out[2] = r.urx;
        out[3] = r.ury;
        return out;
    });
}

}  // extern "C"
