// Creation and release of the settings record of one operation.
#include <cstdlib>

#include <openssl/crypto.h>

#include <quillseal/config.h>

#include "config/config_record.h"

namespace qs {

bool give_empty_certfile(SigningConfig *config) {
    if (config->certfile) return true;
    config->certfile = static_cast<char *>(std::calloc(1, kCertfileBuffer));
    return config->certfile != nullptr;
}

void set_certfile(SigningConfig *config, char *text) {
    std::free(config->certfile);
    config->certfile = text;
}

}  // namespace qs

extern "C" {

QS_API SigningConfig *init_config(const char *) {
    // calloc leaves certfiledata 0, certfile absent and every text empty.
    return static_cast<SigningConfig *>(std::calloc(1, sizeof(SigningConfig)));
}

QS_API void free_config(SigningConfig *config) {
    if (!config) return;
    std::free(config->certfile);
    // The record holds the PIN, the key reference composed with it and the
    // decrypted passwords; none of them outlives it in freed memory.
    OPENSSL_cleanse(config, sizeof *config);
    std::free(config);
}

}  // extern "C"
