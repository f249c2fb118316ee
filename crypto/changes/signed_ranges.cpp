#include "crypto/changes/signed_ranges.h"

#include <algorithm>
#include <cstring>

#include <openssl/bio.h>

namespace qs {

SignedRangeReader::SignedRangeReader(FILE *file, long a, long b, long c, std::size_t block)
    : file_(file), start_{0, b}, left_{a, c}, block_(block > 0 ? block : 1) {}

bool SignedRangeReader::refill() {
    pos_ = fill_ = 0;
    while (segment_ < 2 && left_[segment_] <= 0) {
        ++segment_;
        seek_needed_ = true;
    }
    if (segment_ >= 2 || failed_) return false;
    if (seek_needed_) {
        if (std::fseek(file_, start_[segment_], SEEK_SET) != 0) {
            failed_ = true;
            return false;
        }
        seek_needed_ = false;
    }
    const std::size_t want = static_cast<std::size_t>(
        std::min<long>(left_[segment_], static_cast<long>(block_.size())));
    const std::size_t got = std::fread(block_.data(), 1, want, file_);
    if (got != want) {
        // The file ends before the range does, or the read failed.
        failed_ = true;
        return false;
    }
    left_[segment_] -= static_cast<long>(got);
    fill_ = got;
    return true;
}

std::size_t SignedRangeReader::read(unsigned char *out, std::size_t length) {
    if (length == 0) return 0;
    if (pos_ == fill_ && !refill()) return 0;
    const std::size_t n = std::min(length, fill_ - pos_);
    std::memcpy(out, block_.data() + pos_, n);
    pos_ += n;
    return n;
}

namespace {

int range_read(BIO *bio, char *out, size_t length, size_t *read_bytes) {
    auto *reader = static_cast<SignedRangeReader *>(BIO_get_data(bio));
    *read_bytes = reader ? reader->read(reinterpret_cast<unsigned char *>(out), length) : 0;
    return *read_bytes > 0 ? 1 : 0;
}

long range_ctrl(BIO *bio, int command, long, void *) {
    auto *reader = static_cast<SignedRangeReader *>(BIO_get_data(bio));
    switch (command) {
    case BIO_CTRL_EOF:
        return !reader || reader->at_end() || reader->failed() ? 1 : 0;
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

int range_create(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD *range_method() {
    // Made once for the process and kept for its lifetime.
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "signed byte ranges");
        if (m) {
            BIO_meth_set_read_ex(m, range_read);
            BIO_meth_set_ctrl(m, range_ctrl);
            BIO_meth_set_create(m, range_create);
        }
        return m;
    }();
    return method;
}

}  // namespace

BioPtr signed_range_bio(SignedRangeReader &reader) {
    const BIO_METHOD *method = range_method();
    if (!method) return nullptr;
    BioPtr bio(BIO_new(method));
    if (bio) BIO_set_data(bio.get(), &reader);
    return bio;
}

}  // namespace qs
