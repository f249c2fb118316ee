// Writing a finished signature's hex text into the reserved placeholder.
#pragma once

#include <cstdio>
#include <string_view>
#include <vector>

#include <quillseal/config.h>

#include "crypto/signing/cms_signer.h"

namespace qs {

// The room kept for a timestamp token with its authority's certificates:
// what the estimate adds when a timestamp is asked for.
constexpr int kTimestampDigits = 10000;

// extrarange read as a decimal number the way atoi does; out-of-range values
// are refused (reported) rather than overflowing an estimate.
bool parse_extrarange(const char *text, long &extra);

// Signs the digest of output's signed ranges and writes the hex text into the
// placeholder. inputs: what the placeholder was sized for, settled for this
// document, or null to load the key material from the configured store.
// written: the ranges' digest taken as they were written, or null (or empty)
// to hash them from the file.
int fill_placeholder(SigningConfig *config, std::FILE *output, long a, long b, long c, int N,
                     int timestamp, SignatureInputs *inputs, const std::vector<unsigned char> *written = nullptr);

// Where the placeholder of a prepared file lies: /ByteRange [0 a b c] around
// N digits, "<" at a and ">" just before b.
struct Placeholder {
    long a = 0, b = 0, c = 0;
    int N = 0;
    bool new_field = false;  // the field the configuration names was made for the signature
};

// fill_placeholder in two halves, for signatures whose values a key held
// elsewhere makes for many documents at once (sign_pending between them):
// begin_fill checks the placeholder, takes the ranges' digest (written, or
// hashed from the file) and begins the signature; end_fill ends it and writes its text.
int begin_fill(SigningConfig *config, std::FILE *output, const Placeholder &where, SignatureInputs &inputs,
               PendingSignature &pending, const std::vector<unsigned char> *written = nullptr);
int end_fill(SigningConfig *config, std::FILE *output, const Placeholder &where, PendingSignature &pending,
             int timestamp);

// The fit test and the write: the text fits when it is at most b - a - 2
// digits long; it is then written from a + 1 and the file flushed. A text
// that does not fit reports the extrarange advice and leaves the file alone.
int write_signature_text(std::FILE *file, long a, long b, std::string_view hex);

// Checks that "<" sits at a, ">" at b - 1, and that the file ends at b + c.
int check_placeholder(std::FILE *file, long a, long b, long c);

}  // namespace qs
