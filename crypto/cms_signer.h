// Building the CMS signature over a digest of the signed ranges.
#pragma once

#include <quillseal/config.h>

#include "crypto/key_store.h"

namespace qs {

// Whether the configured sub-filter can be made with the configured hash
// algorithm; -1, reported, when it cannot. Checked before a document is
// prepared, so that nothing is written for a signature that cannot be made.
int check_signature_layout(const SigningConfig &config);

// Whether the configured sub-filter is that of a PAdES baseline signature.
bool is_pades_subfilter(const SigningConfig &config);

// Signs digest with keys the caller already loaded for this document, or,
// when keys is null, with the key material loaded afresh from the configured
// store (and released before returning). On success *signature is a new
// malloc'd lowercase hex text of the DER SignedData.
int sign_digest(SigningConfig *config, const unsigned char *digest, int length, int timestamp,
                KeyMaterial *keys, char **signature);

}  // namespace qs
