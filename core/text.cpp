#include "core/text.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qs {

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

}  // namespace qs
