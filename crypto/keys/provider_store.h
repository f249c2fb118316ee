// Keys opened through OpenSSL's store interface by URI (certstore "OPENSSL
// STORE"): a pkcs11: URI through the PKCS#11 provider, or any URI that a
// provider (or OpenSSL itself, file: for one) can open.
//
// The provider is loaded into a library context of its own, with the module
// it drives, and the store is opened once for one set of settings (provider,
// module, key and certificate URIs, PIN): a run over many documents logs in
// once. Other settings release it first, so a device session that is logged in
// never signs for another PIN; settings the device refused are not tried again
// before shutdown. Nothing is ever prompted for: a missing or refused PIN fails.
#pragma once

#include <quillseal/config.h>

#include "crypto/keys/key_store.h"

namespace qs {

// The private key from keyuri, the certificate from certuri, signerpem or the
// key's own store (a pkcs11: URI with type=cert), the chain from capem (none
// when capem is empty). Reports and returns -1 on failure.
int load_store_keys(SigningConfig *config, KeyMaterial &out);

// Releases the open store, its provider and the device session, and forgets
// refused settings (pdfsigning_shutdown).
void release_provider_store();

}  // namespace qs
