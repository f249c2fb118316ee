// Start and stop of the library.
#include <memory>

#include <openssl/conf.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <quillseal/core.h>
#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "crypto/keys/key_store.h"
#include "crypto/keys/key_store_cache.h"
#include "crypto/keys/provider_store.h"
#include "crypto/keys/remote_key.h"
#include "crypto/revocation/http_exchange.h"

namespace {

// Ciphers, digests and error strings, in OpenSSL 3's own spelling of the
// classic registration calls (all ciphers, all digests, no configuration file,
// then the error strings).
void register_openssl() {
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS |
                            OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                        nullptr);
}

// Until shutdown a key store is parsed once and a remote signing service
// logged into once, however many documents they sign, and connections to the
// network's services are kept open between exchanges.
void open_caches() {
    qs::guarded([] {
        qs::store_cache_open();
        qs::remote_sessions_open();
        qs::connections_open();
    });
}

}  // namespace

extern "C" {

QS_API void pdfsigning_init(void) {
    register_openssl();
    open_caches();
    pkcs11engine_init();
}

QS_API void pdfsigning_init_cmd(void) {
    register_openssl();
    open_caches();
}

QS_API int pdfsigning_open_device(const char *configuration) {
    return qs::guarded([&]() -> int {
        SigningConfig *raw = nullptr;
        const int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc < 0) return -1;
        if (!qs::is_device_store(*config) && !qs::is_openssl_store(*config)) return 0;
        qs::KeyMaterial keys;
        return qs::load_signer_keys(config.get(), keys) < 0 ? -1 : 0;
    });
}

QS_API void pdfsigning_shutdown(void) {
    // OpenSSL 3 releases its tables at process exit; EVP_cleanup is a no-op there.
    qs::guarded([] {
        qs::remote_sessions_close();
        qs::store_cache_close();
        qs::release_provider_store();
        qs::connections_close();
    });
    pkcs11engine_shutdown();
}

}  // extern "C"
