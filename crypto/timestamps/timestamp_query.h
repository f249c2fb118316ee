// The RFC 3161 query sent to a time-stamping authority.
#pragma once

#include <vector>

#include <openssl/evp.h>

#include "core/base/handles.h"

namespace qs {

// The bytes spelt by hex text (pairs of digits, colons allowed between them).
// False, with "bad digest..." on bio_err, unless they are exactly as many as
// md produces.
bool digest_from_hex(const char *hex, const EVP_MD *md, std::vector<unsigned char> &bytes);

// A version 1 query for the SHA-1 digest given as hex text, with the
// authority's certificate requested and no nonce, so the same digest always
// gives the same query. Null, with "could not create query" on bio_err, when
// it cannot be built.
TsReqPtr timestamp_query(const char *digest_hex);

// The same query for digest bytes made with md.
TsReqPtr timestamp_query(const EVP_MD *md, const std::vector<unsigned char> &digest);

}  // namespace qs
