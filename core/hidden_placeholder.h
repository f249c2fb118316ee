// The signature placeholder through an encryption: hidden from the encryptor
// as a PDF name of the same length, since a /Contents string would be
// encrypted, then restored in the encrypted copy with the /ByteRange written
// again for the copy's own offsets.
#pragma once

#include <cstdio>
#include <string>

#include "core/prepared_file.h"

namespace qs {

// Turns the placeholder "<" + N "0" + ">" of a prepared file into the name
// "/" + N "0" + "X". where receives the prepared file's placeholder.
int hide_placeholder(std::FILE *prepared, Placeholder &where);

// In the encrypted copy (opened with password): turns the hidden name of N
// digits back into the placeholder and writes /ByteRange [0 a b c] over the
// reserved one at the same length. where receives the copy's placeholder.
int restore_placeholder(std::FILE *encrypted, const char *password, int N, Placeholder &where);

// "/ByteRange [ 0 a b c" followed by blanks and "]", exactly width characters;
// empty when the numbers need more room than that.
std::string byte_range_text(long a, long b, long c, std::size_t width);

}  // namespace qs
