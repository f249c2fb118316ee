// Streaming access to the two signed byte ranges of a signed file,
// [0, a) followed by [b, b + c), read from the open file in large blocks so
// that a document of any size is verified without being held in memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "core/base/handles.h"

namespace qs {

// Bytes fetched from the file per read.
constexpr std::size_t kRangeBlock = 1 << 20;

class SignedRangeReader {
public:
    SignedRangeReader(FILE *file, long a, long b, long c, std::size_t block = kRangeBlock);
    SignedRangeReader(const SignedRangeReader &) = delete;
    SignedRangeReader &operator=(const SignedRangeReader &) = delete;

    // Copies up to length signed bytes into out; 0 at the end or on failure.
    std::size_t read(unsigned char *out, std::size_t length);
    bool failed() const { return failed_; }
    bool at_end() const { return pos_ == fill_ && left_[0] <= 0 && left_[1] <= 0; }

private:
    bool refill();

    FILE *file_;
    long start_[2];
    long left_[2];
    int segment_ = 0;
    bool seek_needed_ = true;
    bool failed_ = false;
    std::vector<unsigned char> block_;
    std::size_t pos_ = 0, fill_ = 0;
};

// A read-only BIO that serves the reader's bytes; the reader must outlive it.
BioPtr signed_range_bio(SignedRangeReader &reader);

}  // namespace qs
