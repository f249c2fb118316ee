#include "crypto/hex.h"

#include <cstdlib>
#include <cstring>

#include <quillseal/crypto.h>

#include "core/base/guard.h"

namespace qs {
namespace {

std::string hex_with(const char *digits, const unsigned char *bytes, std::size_t length) {
    std::string text(length * 2, '0');
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return text;
}

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string lower_hex(const unsigned char *bytes, std::size_t length) {
    return hex_with("0123456789abcdef", bytes, length);
}

std::string upper_hex(const unsigned char *bytes, std::size_t length) {
    return hex_with("0123456789ABCDEF", bytes, length);
}

std::optional<std::vector<unsigned char>> parse_hex_pairs(std::string_view text) {
    std::vector<unsigned char> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return bytes;
}

char *malloc_text(std::string_view text) {
    char *out = static_cast<char *>(std::malloc(text.size() + 1));
    if (!out) return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

}  // namespace qs

extern "C" {

QS_API char *convertBinToHex(const unsigned char *bytes, long length, long *hex_length) {
    return qs::guarded_ptr([&]() -> char * {
        if (hex_length) *hex_length = 0;
        if (length < 0 || (!bytes && length > 0)) {
            qs::report("No bytes to convert to hex.");
            return nullptr;
        }
        const std::string text = qs::upper_hex(bytes, static_cast<std::size_t>(length));
        char *out = qs::malloc_text(text);
        if (!out) {
            qs::report("Out of memory for the hex text.");
            return nullptr;
        }
        if (hex_length) *hex_length = static_cast<long>(text.size());
        return out;
    });
}

}  // extern "C"
