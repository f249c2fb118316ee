// Checks of RFC 3161 timestamp tokens found in documents: the document
// timestamp whose token is the whole /Contents, and the token a signature
// carries over its signature value.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <openssl/cms.h>

namespace qs {

// True when the SignedData's encapsulated content is a TSTInfo: the object is
// a timestamp token.
bool is_timestamp_token(CMS_ContentInfo *cms);

// What a token says: the digest algorithm and bytes of its imprint and its time.
struct TokenImprint {
    std::string digest_name;  // OpenSSL's short name, "SHA256"
    std::vector<unsigned char> digest;
    std::time_t time = 0;
};

// Reads the TSTInfo of a token. False, reported, when it holds none.
bool read_token(CMS_ContentInfo *token, TokenImprint &imprint);

// The token's own signature over its TSTInfo, the authority's certificate
// taken from the token and not validated. -1, reported, when it does not verify.
int verify_token_signature(CMS_ContentInfo *token);

// A document timestamp: the token's signature verifies and its imprint is
// the digest of the signed ranges [0, a) and [b, b + c) of file. -1, reported,
// otherwise.
int verify_document_timestamp(CMS_ContentInfo *token, std::FILE *file, long a, long b, long c);

}  // namespace qs
