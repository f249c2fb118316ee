// Whole documents run through qpdf: an AES-256 encrypted copy with the
// configured permissions, and a plain rewrite without object streams.
#pragma once

#include <cstdio>
#include <string>

#include <qpdf/Constants.h>

namespace qs {

// The permissions of an encrypted copy, as qpdf's R6 handler takes them.
struct Permissions {
    bool accessibility = false;
    bool extract = false;
    bool assemble = true;
    bool annotate_and_form = true;
    bool form_filling = true;
    bool modify_other = true;
    qpdf_r3_print_e print = qpdf_r3p_full;
    bool encrypt_metadata = false;
};

// The configured values (as integers) mapped to permissions: the accessibility,
// extraction and metadata flags hold only for exactly 1; print 0 is full
// printing, 1 low resolution, any other value none; modify 0 allows every
// change, 1 annotations and form filling, 2 form filling, 3 assembly only,
// any other value no change.
Permissions map_permissions(int accessibility, int extraction, int print, int modify, int metadata);

// A configuration field read as the integer it holds: empty or non-numeric
// text counts as 0, a number out of the range of int as -1 (an "other" value).
int permission_value(const char *text);

// What an encrypted copy is written with.
struct Encryption {
    std::string owner_password;  // empty: a random one nobody knows
    std::string user_password;   // also opens the input, when that is encrypted
    Permissions permissions;
    // Reserve room in the newest signature's /ByteRange for offsets of up to
    // kReservedRangeDigits digits: the copy is written with numbers that wide,
    // to be overwritten once the copy's own offsets are known.
    bool reserve_byte_range = false;
};

// Offsets of up to this many digits fit the reserved /ByteRange: documents
// below 100 GB.
constexpr int kReservedRangeDigits = 11;

// Refuses (-1, reported) a document that carries a signature already: an
// encrypted copy rewrites every byte, so that signature would no longer match
// its document. A document qpdf cannot read is left to the step that reads it.
int refuse_signed_document(std::FILE *input);

// Writes an AES-256 (R6) encrypted copy of the document on input to output.
// 0, or -1 with the reason reported (qpdf's exceptions included).
int encrypt_document(std::FILE *input, std::FILE *output, const Encryption &encryption);

}  // namespace qs
