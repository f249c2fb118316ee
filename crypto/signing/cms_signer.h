// Building the CMS signature over a digest of the signed ranges.
#pragma once

#include <string>

#include <quillseal/config.h>

#include "crypto/keys/key_store.h"

namespace qs {

// What one signature is made with: the signer's key material and, for the
// layout that archives it, the signer's OCSP status. Both are settled before
// the placeholder is sized, so that the placeholder has room for them and the
// signature carries the very status it was sized for.
struct SignatureInputs {
    KeyMaterial keys;
    bool status_settled = false;
    std::string ocsp_basic;  // DER BasicOCSPResponse to archive; empty: none
};

// Whether the configured sub-filter can be made with the configured hash
// algorithm; -1, reported, when it cannot. Checked before a document is
// prepared, so that nothing is written for a signature that cannot be made.
int check_signature_layout(const SigningConfig &config);

// Whether the configured sub-filter is that of a PAdES baseline signature.
bool is_pades_subfilter(const SigningConfig &config);

// Whether the configured layout is the encapsulated one of "/adbe.pkcs7.sha1",
// whose content is the digest itself.
bool is_encapsulated_layout(const SigningConfig &config);

// Whether the configured layout archives the signer's OCSP status in the
// signature (adbe.pkcs7.detached does; a PAdES signature leaves revocation
// data to the DSS).
bool archives_signer_status(const SigningConfig &config);

// Asks the cache or the responder for the signer's status once, when the
// layout archives one. -1, reported, for a revoked or not good certificate.
int settle_archived_status(SigningConfig *config, SignatureInputs &inputs);

// Signs digest with the inputs the caller settled for this document, or,
// when inputs is null, with key material loaded afresh from the configured
// store (and released before returning). On success *signature is a new
// malloc'd lowercase hex text of the DER SignedData.
int sign_digest(SigningConfig *config, const unsigned char *digest, int length, int timestamp,
                SignatureInputs *inputs, char **signature);

}  // namespace qs
