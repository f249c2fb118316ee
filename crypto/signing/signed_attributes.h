// What a SignerInfo's signature covers: the DER of its signed attributes. A
// key in this process signs that DER itself; for a key held elsewhere its
// digest is what the key is given to sign.
#pragma once

#include <string>

#include <openssl/cms.h>
#include <openssl/evp.h>

#include "crypto/keys/key_store.h"

namespace qs {

// The key a SignerInfo is made out for: the private key when it is in this
// process, else the certificate's public key, which names the same key.
EVP_PKEY *signer_info_key(const KeyMaterial &keys);

// The DER of the signed attributes as the signature covers them: a SET OF in
// DER order, whatever order they were added in.
bool signed_attributes_der(CMS_SignerInfo *si, std::string &der);

// Their digest under md. False when they cannot be encoded or hashed.
bool signed_attributes_digest(CMS_SignerInfo *si, const EVP_MD *md, std::string &digest);

// The signing time (now), which a signature made here gets from OpenSSL as it
// signs. False when it cannot be added.
bool add_signing_time(CMS_SignerInfo *si);

}  // namespace qs
