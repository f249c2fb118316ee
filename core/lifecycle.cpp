// Start and stop of the library.
#include <openssl/conf.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <quillseal/core.h>
#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "crypto/keys/key_store_cache.h"
#include "crypto/keys/remote_key.h"

namespace {

// Ciphers, digests and error strings, in OpenSSL 3's own spelling of the
// classic registration calls (all ciphers, all digests, no configuration file,
// then the error strings).
void register_openssl() {
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS |
                            OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                        nullptr);
}

}  // namespace

extern "C" {

// Until shutdown a key store is parsed once, and a remote signing service
// logged into once, however many documents they sign.
QS_API void pdfsigning_init(void) {
    register_openssl();
    qs::guarded([] { qs::store_cache_open(); qs::remote_sessions_open(); });
    pkcs11engine_init();
}

QS_API void pdfsigning_init_cmd(void) {
    register_openssl();
    qs::guarded([] { qs::store_cache_open(); qs::remote_sessions_open(); });
}

QS_API void pdfsigning_shutdown(void) {
    // OpenSSL 3 releases its tables at process exit; EVP_cleanup is a no-op there.
    qs::guarded([] { qs::remote_sessions_close(); qs::store_cache_close(); });
    pkcs11engine_shutdown();
}

}  // extern "C"
