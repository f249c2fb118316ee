// Copying the input into the prepared file while hashing it. A small input
// is copied one block at a time: read, hash, write. A larger one is read and
// written here while a second thread, started and joined within the call,
// hashes the same blocks in order, so the copy takes as long as the slower of
// the hash and the reading and writing, not their sum.
#include "crypto/signing/hashed_copy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "core/base/guard.h"
#include "core/base/openssl_errors.h"

namespace qs {
namespace {

// Blocks small enough to stay in the processor cache between read, hash and write.
constexpr std::size_t kBlock = 256u << 10;
// From this size on the hash runs beside the copy.
constexpr long long kHashBesideFrom = 4LL << 20;
// Blocks on their way from the reading to the hashing thread.
constexpr std::size_t kRing = 4;

enum class Step { Done, ReadFailed, EndedEarly, WriteFailed };

// Reads up to want bytes at offset at, fewer only where the file ends. False on an error.
bool read_at(int fd, unsigned char *into, std::size_t want, long long at, std::size_t &got) {
    got = 0;
    while (got < want) {
        const ssize_t done = ::pread(fd, into + got, want - got, static_cast<off_t>(at) + static_cast<off_t>(got));
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return false;
        if (done == 0) break;
        got += static_cast<std::size_t>(done);
    }
    return true;
}

bool write_at(int fd, const unsigned char *from, std::size_t length, long long at) {
    std::size_t written = 0;
    while (written < length) {
        const ssize_t done =
            ::pwrite(fd, from + written, length - written, static_cast<off_t>(at) + static_cast<off_t>(written));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        written += static_cast<std::size_t>(done);
    }
    return true;
}

std::size_t block_size(long long size) {
    return size < static_cast<long long>(kBlock) ? static_cast<std::size_t>(std::max(size, 1LL)) : kBlock;
}

std::size_t next_length(long long size, long long copied, std::size_t block) {
    return static_cast<std::size_t>(std::min<long long>(size - copied, static_cast<long long>(block)));
}

// Read, hash, write, one block at a time.
Step copy_in_one_loop(int in, int out, long long size, RunningDigest &digest, long long &copied, bool &hashed) {
    const std::size_t block = block_size(size);
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[block]);
    while (copied < size) {
        const std::size_t want = next_length(size, copied, block);
        std::size_t got = 0;
        if (!read_at(in, bytes.get(), want, copied, got)) return Step::ReadFailed;
        if (got < want) return Step::EndedEarly;
        hashed = hashed && digest.add(bytes.get(), got);
        if (!write_at(out, bytes.get(), got, copied)) return Step::WriteFailed;
        copied += static_cast<long long>(got);
    }
    return Step::Done;
}

// A second thread that hashes, in order, the blocks handed to it. A block
// stays untouched until it is hashed; the thread that handed it over only
// reads it meanwhile (to write it out).
class HashingThread {
public:
    explicit HashingThread(RunningDigest &digest) : digest_(digest) {
        for (Slot &slot : slots_) slot.bytes.reset(new unsigned char[kBlock]);
        thread_ = std::thread([this] { run(); });
    }
    ~HashingThread() { finish(); }
    HashingThread(const HashingThread &) = delete;
    HashingThread &operator=(const HashingThread &) = delete;

    // The next block to fill, once the thread has hashed what it held.
    unsigned char *next_free() {
        Slot &slot = slots_[filling_];
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !slot.full; });
        return slot.bytes.get();
    }

    // The block from next_free, filled with length bytes, is the thread's to hash.
    void hand_over(std::size_t length) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slots_[filling_].length = length;
            slots_[filling_].full = true;
        }
        changed_.notify_all();
        filling_ = (filling_ + 1) % kRing;
    }

    // Waits until every block handed over is hashed and ends the thread;
    // true when each went into the digest.
    bool finish() {
        if (thread_.joinable()) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                closing_ = true;
            }
            changed_.notify_all();
            thread_.join();
        }
        return hashed_;
    }

private:
    struct Slot {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t length = 0;
        bool full = false;
    };

    void run() {
        bool hashed = true;
        for (std::size_t at = 0;; at = (at + 1) % kRing) {
            Slot &slot = slots_[at];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return slot.full || closing_; });
                if (!slot.full) break;
            }
            hashed = hashed && digest_.add(slot.bytes.get(), slot.length);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                slot.full = false;
            }
            changed_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        hashed_ = hashed;
    }

    RunningDigest &digest_;
    Slot slots_[kRing];
    std::size_t filling_ = 0;  // used by the handing thread only
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closing_ = false;
    bool hashed_ = false;
    std::thread thread_;
};

// Read and write here, hash in the second thread.
Step copy_beside_hashing(int in, int out, long long size, RunningDigest &digest, long long &copied, bool &hashed) {
    HashingThread hasher(digest);
    Step step = Step::Done;
    while (copied < size) {
        unsigned char *bytes = hasher.next_free();
        const std::size_t want = next_length(size, copied, kBlock);
        std::size_t got = 0;
        if (!read_at(in, bytes, want, copied, got)) {
            step = Step::ReadFailed;
            break;
        }
        if (got < want) {
            step = Step::EndedEarly;
            break;
        }
        hasher.hand_over(got);
        if (!write_at(out, bytes, got, copied)) {
            step = Step::WriteFailed;
            break;
        }
        copied += static_cast<long long>(got);
    }
    hashed = hasher.finish();
    return step;
}

int report_copy_failure(Step step, const InputState &opened, long long copied) {
    const int saved = errno;
    if (step == Step::EndedEarly) {
        report_input_shorter(opened, copied);
        return -1;
    }
    report(step == Step::ReadFailed ? "Error copying the input document into the output file."
                                    : "Error writing the input document into the output file.");
    errno = saved;
    return -1;
}

}  // namespace

int copy_and_hash(std::FILE *input, std::FILE *output, const InputState &opened, RunningDigest &digest) {
    if (std::fflush(output) != 0) {
        const int saved = errno;
        report("Error writing the input document into the output file.");
        errno = saved;
        return -1;
    }
    if (!input_unchanged(input, opened)) return -1;
    const int in = fileno(input), out = fileno(output);
    long long copied = 0;
    bool hashed = true;
    const Step step = opened.size >= kHashBesideFrom ? copy_beside_hashing(in, out, opened.size, digest, copied, hashed)
                                                     : copy_in_one_loop(in, out, opened.size, digest, copied, hashed);
    if (step != Step::Done) return report_copy_failure(step, opened, copied);
    if (!hashed) {
        report_openssl("Error computing the document digest...");
        return -1;
    }
    // Bytes rewritten, or added at the end, while they were copied.
    if (!input_unchanged(input, opened)) return -1;
    if (fseeko(output, static_cast<off_t>(copied), SEEK_SET) != 0 ||
        fseeko(input, static_cast<off_t>(copied), SEEK_SET) != 0) {
        report("The input or output file cannot be positioned.");
        return -1;
    }
    return 0;
}

}  // namespace qs
