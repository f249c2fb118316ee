#include "crypto/keys/device_settings.h"

#include <cstring>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "core/base/handles.h"

namespace qs {

std::string settings_fingerprint(std::initializer_list<const char *> parts) {
    static unsigned char salt[16];
    static const bool salted = RAND_bytes(salt, sizeof salt) == 1;
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    bool ok = salted && ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1 &&
              EVP_DigestUpdate(ctx.get(), salt, sizeof salt) == 1;
    for (const char *part : parts) ok = ok && EVP_DigestUpdate(ctx.get(), part, std::strlen(part) + 1) == 1;
    ok = ok && EVP_DigestFinal_ex(ctx.get(), digest, &size) == 1;
    if (!ok) throw std::runtime_error("The device settings could not be digested.");
    return std::string(reinterpret_cast<const char *>(digest), size);
}

}  // namespace qs
