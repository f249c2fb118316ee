#include "core/base/text.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qs {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the UTF-8 sequence that starts at text[i], or 0 when none does.
std::size_t sequence_length(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!is_continuation(at(i + k))) return 0;
    return length;
}

}  // namespace

bool copy_bounded(char *dst, std::size_t cap, std::string_view src) {
    if (!dst || cap == 0) return src.empty();
    const std::size_t n = src.size() < cap ? src.size() : cap - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return n == src.size();
}

std::string format(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out;
    if (needed > 0) {
        std::vector<char> buf(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, again);
        out.assign(buf.data(), static_cast<std::size_t>(needed));
    }
    va_end(again);
    return out;
}

std::string shown(std::string_view value, std::size_t limit) {
    if (value.size() <= limit) return std::string(value);
    return std::string(value.substr(0, limit)) + "...";
}

std::string decimal(std::int64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

bool is_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequence_length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string_view cut_text(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    if (is_utf8(text))
        while (cut > 0 && is_continuation(static_cast<unsigned char>(text[cut]))) --cut;
    return text.substr(0, cut);
}

}  // namespace qs
