// The SignedData of a PAdES baseline signature (sub-filter ETSI.CAdES.detached):
// detached, with exactly the signed attributes content-type, message-digest
// and signing-certificate-v2. The signing time stays in the signature
// dictionary's /M and revocation data goes to the DSS, so neither is a
// signed attribute here.
#pragma once

#include <string>

#include <openssl/evp.h>

#include "core/base/handles.h"
#include "crypto/keys/key_store.h"

namespace qs {

// Signs digest (the digest of the signed ranges under md) with keys; chain is
// the rest of the certificates the SignedData carries. For a key held
// elsewhere the SignerInfo is left unsigned and to_sign receives the digest
// its key is to sign. Null, reported, on failure.
CmsPtr cades_detached(KeyMaterial &keys, STACK_OF(X509) *chain, const EVP_MD *md, const unsigned char *digest,
                      int length, std::string &to_sign);

}  // namespace qs
