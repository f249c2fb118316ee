// Encryption and decryption of the passwords kept in the key=value file.
#include "config/password_cipher.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <cstring>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <quillseal/config.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"

namespace {

// The library's stored-password key. Files written with it can only be read
// back with it: it must never change.
constexpr char kKeyHex[] = "c01c7700c1aedc82a34e53773669b8a0b44ca25625afe97a";
constexpr std::size_t kKeyBytes = 24;
constexpr std::size_t kPiece = 100;

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<unsigned char> bytes_of_hex(std::string_view hex) {
    std::vector<unsigned char> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = hex_value(hex[i]);
        const int low = hex_value(hex[i + 1]);
        bytes.push_back(high < 0 || low < 0 ? 0 : static_cast<unsigned char>(high * 16 + low));
    }
    return bytes;
}

std::array<unsigned char, kKeyBytes> key_bytes() {
    std::array<unsigned char, kKeyBytes> key{};
    const std::vector<unsigned char> bytes = bytes_of_hex(kKeyHex);
    for (std::size_t i = 0; i < kKeyBytes; ++i) key[i] = bytes[i];
    return key;
}

qs::EvpCipherCtxPtr cipher_context(bool encrypt) {
    qs::EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) throw std::runtime_error("Out of memory while preparing the password cipher.");
    const auto key = key_bytes();
    if (EVP_CipherInit_ex(ctx.get(), EVP_des_ede3(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1)
        throw std::runtime_error("The password cipher DES-EDE3 is not available.");
    return ctx;
}

std::string lower_hex(const unsigned char *data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0f];
    }
    return text;
}

}  // namespace

namespace qs {

std::string encrypt_stored_password(std::string_view password) {
    auto ctx = cipher_context(true);
    const int block = EVP_CIPHER_CTX_get_block_size(ctx.get());
    std::vector<unsigned char> cipher(password.size() + static_cast<std::size_t>(block));
    const auto *plain = reinterpret_cast<const unsigned char *>(password.data());
    std::size_t written = 0;
    for (std::size_t done = 0; done < password.size(); done += kPiece) {
        const std::size_t piece = std::min(kPiece, password.size() - done);
        int out = 0;
        if (EVP_EncryptUpdate(ctx.get(), cipher.data() + written, &out, plain + done, static_cast<int>(piece)) != 1)
            throw std::runtime_error("The password could not be encrypted.");
        written += static_cast<std::size_t>(out);
    }
    int out = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), cipher.data() + written, &out) != 1)
        throw std::runtime_error("The password could not be encrypted.");
    written += static_cast<std::size_t>(out);
    return lower_hex(cipher.data(), written);
}

std::string decrypt_stored_password(std::string_view hex) {
    const std::vector<unsigned char> cipher = bytes_of_hex(hex);
    auto ctx = cipher_context(false);
    const int block = EVP_CIPHER_CTX_get_block_size(ctx.get());
    std::vector<unsigned char> plain(cipher.size() + static_cast<std::size_t>(block));
    std::size_t written = 0;
    // Fed in pieces so that no length passed to the cipher can overflow an int.
    constexpr std::size_t kDecryptPiece = 1 << 16;
    for (std::size_t done = 0; done < cipher.size(); done += kDecryptPiece) {
        const std::size_t piece = std::min(kDecryptPiece, cipher.size() - done);
        int out = 0;
        if (EVP_DecryptUpdate(ctx.get(), plain.data() + written, &out, cipher.data() + done,
                              static_cast<int>(piece)) != 1)
            break;
        written += static_cast<std::size_t>(out);
    }
    int last = 0;
    // A text made with another key, or cut, fails the padding check here; what
    // decrypted before it is all there is.
    if (EVP_DecryptFinal_ex(ctx.get(), plain.data() + written, &last) == 1) written += static_cast<std::size_t>(last);
    ERR_clear_error();
    std::string text(reinterpret_cast<const char *>(plain.data()), written);
    OPENSSL_cleanse(plain.data(), plain.size());
    return text;
}

}  // namespace qs

extern "C" {

QS_API int encrypt_password(const char *password, char *out) {
    return qs::guarded([&]() -> int {
        if (!out) {
            qs::report("No buffer was given for the encrypted password.");
            return -1;
        }
        out[0] = '\0';
        if (!password) {
            qs::report("No password was given to encrypt.");
            return -1;
        }
        const std::string_view plain(password);
        if (plain.size() > qs::kMaxStoredPassword) {
            qs::report("The password is too long: at most 255 bytes can be encrypted.");
            return -1;
        }
        const std::string stored = qs::encrypt_stored_password(plain);
        std::memcpy(out, stored.c_str(), stored.size() + 1);
        return 0;
    });
}

QS_API int decrypt_password(const char *stored, char *out) {
    return qs::guarded([&]() -> int {
        if (!out) {
            qs::report("No buffer was given for the decrypted password.");
            return -1;
        }
        out[0] = '\0';
        std::string plain = qs::decrypt_stored_password(qs::view(stored));
        qs::copy_bounded(out, qs::kTextField, plain);
        OPENSSL_cleanse(plain.data(), plain.size());
        return 0;
    });
}

}  // extern "C"
