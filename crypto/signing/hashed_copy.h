// The input copied into the prepared file and hashed on the way. The input's
// bytes are the first part of the output's first signed range, so they are
// hashed as they are copied and never read back from the output: only the
// appended update is hashed afterwards, from memory.
#pragma once

#include <cstdio>

#include "core/base/input_file.h"
#include "crypto/digest.h"

namespace qs {

// Copies the whole input, noted as opened, to the start of output, feeding
// every byte written into digest: the bytes hashed are exactly the bytes
// written. Both files are left positioned after the copy. -1, reported, when
// a read or write fails, or when the input turns out shorter than noted or
// changes while it is copied.
int copy_and_hash(std::FILE *input, std::FILE *output, const InputState &opened, RunningDigest &digest);

}  // namespace qs
