// A key held by a remote signing service (certstore "CSC"): the certificate
// and chain come from the service's description of the credential, and the
// service makes the signatures, a batch of them with one authorisation and
// one signing exchange.
//
// Between pdfsigning_init (or pdfsigning_init_cmd) and pdfsigning_shutdown a
// process logs in and reads the credential once for one service, credential
// and set of secrets; shutdown drops the session and wipes its token. The
// session is kept under a salted digest of the settings (key_store_cache.h),
// never the secrets themselves. Without init every load starts afresh.
#pragma once

#include <quillseal/config.h>

#include "crypto/keys/key_store.h"

namespace qs {

// The credential's certificate and chain, and in out.remote its signer.
// -1, reported, when the service cannot be reached, refuses, or describes no
// usable credential.
int load_remote_keys(SigningConfig *config, KeyMaterial &out);

void remote_sessions_open();
void remote_sessions_close();

}  // namespace qs
