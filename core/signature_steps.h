// The signing drivers' steps up to the signature itself, which the batch
// driver shares: it prepares many documents this way, has the key sign them
// all at once, and then ends each one's signature.
#pragma once

#include <cstdio>
#include <vector>

#include <quillseal/config.h>

#include "core/base/handles.h"
#include "core/prepared_file.h"
#include "crypto/signing/cms_signer.h"

namespace qs {

// sign_io's steps before the signature: the key material (and the signer's
// status where the layout archives it) settled into inputs, and input copied
// to output with the signature update appended; where receives its
// placeholder, sized for what inputs hold, and digest the signed ranges'
// digest, taken as they were written.
int prepare_signature(std::FILE *input, std::FILE *output, const DocumentTexts &texts, int visible, int timestamp,
                      int certify, SigningConfig *config, SignatureInputs &inputs, Placeholder &where,
                      std::vector<unsigned char> &digest);

// sign_encrypt's steps before the signature: the same, the document then
// encrypted with open_password into output (through a scratch file beside
// output_path) and its placeholder restored there; input is closed once read.
int prepare_encrypted_signature(FilePtr &input, const char *output_path, std::FILE *output,
                                const DocumentTexts &texts, int visible, const char *open_password, int timestamp,
                                SigningConfig *config, SignatureInputs &inputs, Placeholder &where);

}  // namespace qs
