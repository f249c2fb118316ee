// Hand-built signed documents for the verification tests: a one-page PDF
// with one signature field whose placeholder is filled with a CMS object made
// by the openssl command over the document's signed byte ranges.
#pragma once

#include <string>

namespace qstest {

struct HandSigned {
    std::string bytes;  // the whole file
    long a = 0, b = 0, c = 0;
};

// A document with a "<" + digits zeros + ">" placeholder and a /ByteRange
// [0 a b c] that frames it. The range is written with fixed-width numbers so
// that it can be edited without moving any offset.
HandSigned placeholder_document(int digits = 8000);

// Replaces the /ByteRange numbers (same widths) with the given ones.
void set_byte_range(HandSigned &doc, long first, long a, long b, long c);

// The signed bytes [0, a) followed by [b, b + c).
std::string signed_bytes(const HandSigned &doc);

// Writes hex from a + 1; throws when it does not fit.
void fill_contents(HandSigned &doc, const std::string &hex);

// Signs the document's ranges with "openssl cms -sign": detached over the
// ranges, or (encapsulated) over their SHA-1 digest with the digest inside.
// signer names a fixture pair <signer>.pem / <signer>.key.
HandSigned signed_document(const std::string &signer = "signer", bool encapsulated = false);

// Lowercase hex of bytes.
std::string to_hex(const std::string &bytes);

// DER bytes of a CMS object made by openssl cms with the given arguments over data.
std::string openssl_cms(const std::string &arguments, const std::string &data);

}  // namespace qstest
