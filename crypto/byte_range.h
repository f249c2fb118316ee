// Writing a finished signature's hex text into the reserved placeholder.
#pragma once

#include <cstdio>
#include <string_view>

#include <quillseal/config.h>

#include "crypto/key_store.h"

namespace qs {

// extrarange read as a decimal number the way atoi does; out-of-range values
// are refused (reported) rather than overflowing an estimate.
bool parse_extrarange(const char *text, long &extra);

// Hashes the signed ranges of output, signs the digest and writes the hex
// text into the placeholder. keys: the signer's material already loaded for
// this document, or null to load it from the configured store.
int fill_placeholder(SigningConfig *config, std::FILE *output, long a, long b, long c, int N,
                     int timestamp, KeyMaterial *keys);

// The fit test and the write: the text fits when it is at most b - a - 2
// digits long; it is then written from a + 1 and the file flushed. A text
// that does not fit reports the extrarange advice and leaves the file alone.
int write_signature_text(std::FILE *file, long a, long b, std::string_view hex);

// Checks that "<" sits at a, ">" at b - 1, and that the file ends at b + c.
int check_placeholder(std::FILE *file, long a, long b, long c);

}  // namespace qs
