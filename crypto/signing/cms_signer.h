// Building the CMS signature over a digest of the signed ranges.
#pragma once

#include <string>
#include <vector>

#include <quillseal/config.h>

#include "core/base/handles.h"
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

// A signature begun: the SignedData with its signer's attributes in place.
// A key in this process has signed them already (to_sign stays empty); for a
// key held elsewhere to_sign is the digest that key signs, and value (or
// problem) is what came back for it.
struct PendingSignature {
    CmsPtr cms;
    CMS_SignerInfo *signer = nullptr;  // the SignedData's one SignerInfo
    const EVP_MD *md = nullptr;        // the digest of to_sign
    std::string to_sign;
    std::string value;
    std::string problem;
};

// The first step of a signature over digest (the digest of the signed
// ranges) with the inputs settled for its document. -1, reported, on failure.
int begin_signature(SigningConfig *config, const unsigned char *digest, int length, SignatureInputs &inputs,
                    PendingSignature &pending);

// Has the key held elsewhere sign every signature of the batch that waits for
// it, in as few exchanges as the key takes: each gets its value, or its
// problem when the value was refused. Nothing to do for a key in this process.
// -1, reported, when no value could be had at all.
int sign_pending(SigningConfig *config, const KeyMaterial &keys, const std::vector<PendingSignature *> &batch);

// The last step: the value goes in (its problem is reported when it has
// none), the timestamp token when timestamp is set, and *signature receives
// the malloc'd lowercase hex text of the DER SignedData.
int end_signature(SigningConfig *config, PendingSignature &pending, int timestamp, char **signature);

// Signs digest with the inputs the caller settled for this document, or,
// when inputs is null, with key material loaded afresh from the configured
// store (and released before returning): the three steps above for one
// signature. On success *signature is a new malloc'd lowercase hex text of
// the DER SignedData.
int sign_digest(SigningConfig *config, const unsigned char *digest, int length, int timestamp,
                SignatureInputs *inputs, char **signature);

}  // namespace qs
