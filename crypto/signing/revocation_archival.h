// The signer's OCSP status archived in the signature: the signed attribute
// revocationInfoArchival of a detached signature.
#pragma once

#include <string>
#include <string_view>

#include <openssl/cms.h>
#include <openssl/x509.h>

#include <quillseal/config.h>

#include "crypto/keys/key_store.h"

namespace qs {

// The signer's status from the cache or its OCSP responder. basic_der
// receives the DER BasicOCSPResponse of a good status; it stays empty when
// no status can be had (a self-signed certificate, no responder, a responder
// that is down or answers nonsense), which goes to the debug log only.
// -1, reported, when the responder says the certificate is revoked or not
// good, or when the cache directory may not be used (cache_directory_problem).
int signer_ocsp_status(SigningConfig *config, X509 *cert, STACK_OF(X509) *chain, std::string &basic_der);

// The certificates the signer's status is asked with: from the PKCS#12 store
// or the remote signing service (its key comes along), or a device's signer
// PEM file and CA file (a CA file that cannot be read gives an empty chain).
// -1, reported, on failure.
int load_signer_certificates(SigningConfig *config, KeyMaterial &keys);

// The revocationInfoArchival value holding one BasicOCSPResponse.
std::string revocation_archival_value(std::string_view basic_der);

// Adds the attribute around basic_der (the signer's status as
// signer_ocsp_status gave it) to signer; nothing for an empty one. -1,
// reported, when it cannot be added.
int add_revocation_attribute(SigningConfig *config, const std::string &basic_der, CMS_SignerInfo *signer);

}  // namespace qs
