// Digests by name: of a buffer, and of the two signed ranges of an open file,
// read in large blocks so that memory stays constant whatever the file size.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include <openssl/evp.h>

#include "core/base/handles.h"

namespace qs {

// A digest fed piece by piece, as the signed bytes are written.
class RunningDigest {
public:
    // False, reported, for an unknown name.
    bool start(const char *name);
    EVP_MD_CTX *context() const { return ctx_.get(); }
    bool add(const void *data, std::size_t length);
    // The value; -1, reported, when the digest could not be completed.
    int finish(std::vector<unsigned char> &digest);

private:
    EvpMdCtxPtr ctx_;
};

// Digest of bytes [0, a) followed by [b, b + c) of file under the named digest.
// Reports and returns -1 on an unknown name or a short read.
int digest_ranges(const char *name, std::FILE *file, long a, long b, long c,
                  std::vector<unsigned char> &digest);

}  // namespace qs
