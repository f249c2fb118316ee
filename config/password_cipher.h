// The stored form of passwords in the key=value file: DES-EDE3 (ECB, PKCS#7
// padding) under the library's fixed key, written as hex text.
#pragma once

#include <string>
#include <string_view>

namespace qs {

// Longest password that can be put into its stored form.
constexpr std::size_t kMaxStoredPassword = 255;

// Lowercase hex of the ciphertext of password.
std::string encrypt_stored_password(std::string_view password);

// Plain text of a stored form. Hex digits of either case; an odd last digit is
// ignored and a pair holding anything but hex digits reads as the byte 0. A
// text that was not made with this key yields meaningless bytes (what
// decrypted before the padding check failed), never an error.
std::string decrypt_stored_password(std::string_view hex);

}  // namespace qs
