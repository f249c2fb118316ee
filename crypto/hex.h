// Hexadecimal text of byte strings, in both directions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// Two digits per byte, high nibble first, "0"-"9" and "a"-"f".
std::string lower_hex(const unsigned char *bytes, std::size_t length);
// The same with the capital letters "A"-"F".
std::string upper_hex(const unsigned char *bytes, std::size_t length);

// The bytes spelt by the text read two characters at a time; a trailing odd
// character is ignored. Nothing when a pair holds a character that is not a
// hexadecimal digit.
std::optional<std::vector<unsigned char>> parse_hex_pairs(std::string_view text);

// A malloc'd NUL-terminated copy of text for a C caller; nullptr when out of memory.
char *malloc_text(std::string_view text);

}  // namespace qs
