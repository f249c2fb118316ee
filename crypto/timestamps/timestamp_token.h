// The RFC 3161 timestamp token added to a signature as an unsigned attribute.
#pragma once

#include <string>
#include <vector>

#include <openssl/cms.h>
#include <openssl/evp.h>

#include <quillseal/config.h>

namespace qs {

// Obtains a token for the first SignerInfo's signature from the configured
// authority and adds it. Reports and returns -1 on failure.
int add_timestamp_token(SigningConfig *config, CMS_ContentInfo *cms);

// The DER TimeStampToken (a SignedData ContentInfo) that the configured
// authority grants for digest, made with md. The reply must grant it and
// answer this very query. Reports and returns -1 on failure.
int fetch_timestamp_token(SigningConfig *config, const EVP_MD *md, const std::vector<unsigned char> &digest,
                          std::string &token);

}  // namespace qs
