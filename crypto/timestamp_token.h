// The RFC 3161 timestamp token added to a signature as an unsigned attribute.
#pragma once

#include <openssl/cms.h>

#include <quillseal/config.h>

namespace qs {

// Obtains a token for the first SignerInfo's signature from the configured
// authority and adds it. Reports and returns -1 on failure.
int add_timestamp_token(SigningConfig *config, CMS_ContentInfo *cms);

}  // namespace qs
