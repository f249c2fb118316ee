// The placeholder a signature is given: room for what the signature will
// really carry, measured from the material it is made with, and never less
// than the estimate of calculate_byte_range.
#pragma once

#include <quillseal/config.h>

#include "crypto/signing/cms_signer.h"

namespace qs {

// The placeholder size for a signature made with inputs: the DER of every
// certificate that goes into it, the signature value the key makes, the
// signed attributes of the configured layout, the archived OCSP status, and
// the timestamp allowance when timestamp is set, with extrarange on top.
// estimate (calculate_byte_range's size, which holds extrarange already)
// stands whenever it is larger, and also when inputs hold no certificate.
// -1, reported, when the size passes what a placeholder can hold.
int placeholder_for(const SigningConfig &config, int timestamp, const SignatureInputs &inputs, int estimate,
                    int &N);

// For a signature made elsewhere (the two-phase first phase): the configured
// certificates, from the PKCS#11 signer and CA files or the PKCS#12 store, and
// the signer's status where the layout archives one, as far as they can be
// had. Nothing is reported and nothing stops here: whatever cannot be had is
// left out, and the estimate stands for it.
void gather_configured_inputs(SigningConfig *config, SignatureInputs &inputs);

}  // namespace qs
