// PKCS#11 security devices through an OpenSSL engine. This release signs with
// PKCS#12 key stores only; a device is refused with the engine message.
#include <quillseal/crypto.h>

#include "core/guard.h"

extern "C" {

QS_API int pkcs11engine_register(SigningConfig *) {
    qs::report("Error loading PKCS#11 engine.");
    return -1;
}

QS_API void pkcs11engine_init(void) {}

QS_API void pkcs11engine_shutdown(void) {}

}  // extern "C"
