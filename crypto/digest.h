// Digests by name: of a buffer, and of the two signed ranges of an open file,
// read in large blocks so that memory stays constant whatever the file size.
#pragma once

#include <cstdio>
#include <vector>

namespace qs {

// Digest of bytes [0, a) followed by [b, b + c) of file under the named digest.
// Reports and returns -1 on an unknown name or a short read.
int digest_ranges(const char *name, std::FILE *file, long a, long b, long c,
                  std::vector<unsigned char> &digest);

}  // namespace qs
