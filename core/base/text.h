// Bounded text helpers for the fixed fields of the C records and the 256-byte
// working buffers. Every copy into a fixed field goes through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs {

constexpr std::size_t kTextField = 256;

// Copies at most cap-1 bytes of src into dst and terminates it. Returns false
// when src had to be cut.
bool copy_bounded(char *dst, std::size_t cap, std::string_view src);

template <std::size_t N>
bool copy_field(char (&dst)[N], std::string_view src) {
    return copy_bounded(dst, N, src);
}

// snprintf into a std::string, C locale, no size limit.
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Decimal text of a 64-bit number, independent of the locale.
std::string decimal(std::int64_t value);

// A value quoted in a message, cut to limit bytes with "..." after the cut, so
// that the message around it still fits its 256-byte slot.
std::string shown(std::string_view value, std::size_t limit = 40);

// True when text is well-formed UTF-8: shortest forms only, no surrogates,
// nothing above U+10FFFF.
bool is_utf8(std::string_view text);

// The first limit bytes of text at most; a UTF-8 text is cut before the
// character that would not fit whole, any other text at limit.
std::string_view cut_text(std::string_view text, std::size_t limit);

// NUL-safe view of a caller's C text (a null pointer reads as empty).
inline std::string_view view(const char *s) { return s ? std::string_view(s) : std::string_view(); }

}  // namespace qs
