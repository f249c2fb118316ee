#include "core/output_path.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/text.h"

namespace qs {
namespace {

constexpr int kNameAttempts = 100;
constexpr size_t kSuffixLength = 12;

// Keeps errno as it was for the scope, so that cleaning up never replaces the
// system error a failure is reported with.
struct ErrnoKept {
    int saved = errno;
    ~ErrnoKept() { errno = saved; }
};

std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Twelve letters or digits from the kernel's random source; the clock and the
// process id stand in when it cannot answer at once. Uniqueness itself comes
// from the exclusive create.
std::string random_suffix() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kSuffixLength];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static std::atomic<unsigned long> counter{0};
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long long mix = static_cast<unsigned long long>(now.tv_nsec) ^
                                 (static_cast<unsigned long long>(now.tv_sec) << 20) ^
                                 (static_cast<unsigned long long>(::getpid()) << 40) ^ ++counter;
        for (unsigned char &byte : bytes) {
            mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<unsigned char>(mix >> 56);
        }
    }
    std::string suffix;
    for (unsigned char byte : bytes) suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
    return suffix;
}

}  // namespace

bool same_file(const char *input, const char *output) {
    struct stat in {}, out {};
    if (!input || !output) return false;
    if (stat(input, &in) != 0 || stat(output, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int refuse_output_over_input(const char *input, const char *output) {
    if (!same_file(input, output)) return 0;
    report(format("Output file is the input file itself; choose another output path [File: %s]",
                  output));
    return -1;
}

int refuse_unusable_output(const char *input, const char *output) {
    if (refuse_output_over_input(input, output) < 0) return -1;
    return refuse_output_that_is_no_file(output);
}

int refuse_output_that_is_no_file(const char *output) {
    struct stat entry {}, target {};
    if (!output || lstat(output, &entry) != 0 || S_ISREG(entry.st_mode)) return 0;
    // A link that leads to a device or a directory names no regular file
    // either; any other link, dangling or not, is refused as a link.
    if (S_ISLNK(entry.st_mode) && (stat(output, &target) != 0 || S_ISREG(target.st_mode)))
        report(format("The output path is a symbolic link, and no output is written through a link; choose another "
                      "output path [File: %s]",
                      output));
    else
        report(format("The output path names no regular file; choose another output path [File: %s]", output));
    return -1;
}

PendingOutput::PendingOutput(const char *path, Use use) : path_(path ? path : ""), scratch_(use == Use::Scratch) {
    if (refuse_output_that_is_no_file(path_.c_str()) < 0) return;
    if (path_.empty() || path_.back() == '/') {
        errno = path_.empty() ? ENOENT : EISDIR;
        handle_fopen_error_message(path_.c_str());
        return;
    }
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) == 0) {
        // Replaced only where a plain open for writing would have been allowed.
        const int probe = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
        if (probe < 0) {
            handle_fopen_error_message(path_.c_str());
            return;
        }
        ::close(probe);
        replaces_ = true;
        mode_ = existing.st_mode & 07777;
        owner_ = existing.st_uid;
        group_ = existing.st_gid;
    }
    if (!open_temporary(directory_of(path_))) handle_fopen_error_message(path_.c_str());
}

PendingOutput::~PendingOutput() { discard(); }

bool PendingOutput::open_temporary(const std::string &directory) {
    // A new output is created with 0666 so that the umask and default ACLs
    // apply as to any new file; a replacement starts private and then takes
    // the replaced file's owner and mode. A scratch file stays private.
    const mode_t mode = (replaces_ || scratch_) ? 0600 : 0666;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary_ = directory + "/" + kPartialOutputPrefix + random_suffix();
        const int fd =
            ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            temporary_.clear();
            return false;
        }
        if ((replaces_ && !scratch_ && !take_over_existing(fd)) || !(file_ = ::fdopen(fd, "w+b"))) {
            ErrnoKept kept;
            ::close(fd);
            discard();
            return false;
        }
        return true;
    }
    temporary_.clear();
    errno = EEXIST;
    return false;
}

bool PendingOutput::take_over_existing(int fd) {
    // Only a privileged process may give a file away; elsewhere the new file
    // stays the writer's own, as a file written by this user would.
    if (owner_ != ::geteuid() || group_ != ::getegid()) {
        ErrnoKept kept;
        if (::fchown(fd, owner_, group_) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), group_);
    }
    return ::fchmod(fd, mode_) == 0;
}

bool PendingOutput::keep() {
    if (!file_) return false;
    std::FILE *file = file_;
    file_ = nullptr;
    // No fsync: once renamed, the whole file is what every process sees at
    // the output path, however this one ends. Surviving a crash of the whole
    // machine is left to the file system; an fsync per document would cost
    // more than half the throughput of a directory run.
    bool ok = std::fflush(file) == 0;
    int error = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        errno = error;
        handle_fopen_error_message(path_.c_str());
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void PendingOutput::discard() noexcept {
    ErrnoKept kept;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

}  // namespace qs
