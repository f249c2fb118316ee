#include "core/base/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/text.h"

namespace qs {

FilePtr open_regular_file(const char *path, bool &not_regular, OpenFor mode) {
    not_regular = false;
    if (!path) {
        errno = ENOENT;
        return FilePtr();
    }
    // Opened without blocking, so that a FIFO is seen for what it is before
    // anything waits on it.
    const bool update = mode == OpenFor::Update;
    const int fd = ::open(path, (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FilePtr();
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int saved = errno;
        ::close(fd);
        not_regular = true;
        errno = saved;
        return FilePtr();
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return FilePtr();
    }
    FilePtr file(::fdopen(fd, update ? "r+b" : "rb"));
    if (!file) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return file;
}

FilePtr open_input_file(const char *path, OpenFor mode, const char *not_regular_text) {
    bool not_regular = false;
    FilePtr file = open_regular_file(path, not_regular, mode);
    if (file) return file;
    if (not_regular)
        report(not_regular_text ? std::string(not_regular_text) : format("Not a regular file [File: %s]", path));
    else
        handle_fopen_error_message(path ? path : "");
    return file;
}

namespace {

bool state_of(std::FILE *input, InputState &state) {
    struct stat info {};
    if (!input || ::fstat(fileno(input), &info) != 0) return false;
    state.size = static_cast<long long>(info.st_size);
    state.modified_ns = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    state.device = static_cast<unsigned long long>(info.st_dev);
    state.inode = static_cast<unsigned long long>(info.st_ino);
    return true;
}

constexpr const char *kChanged = "The input document changed while it was being signed: ";

}  // namespace

bool note_input(std::FILE *input, InputState &state) {
    if (state_of(input, state)) return true;
    report("The input document's size cannot be read.");
    return false;
}

bool input_unchanged(std::FILE *input, const InputState &noted) {
    InputState now;
    if (!state_of(input, now)) {
        report("The input document's size cannot be read.");
        return false;
    }
    // No system error stands behind these: the message says it all.
    if (now.size != noted.size) {
        report(format("%sit had %lld bytes and now has %lld.", kChanged, noted.size, now.size));
        errno = 0;
        return false;
    }
    if (now.modified_ns != noted.modified_ns || now.device != noted.device || now.inode != noted.inode) {
        report(format("%sanother process wrote to it.", kChanged));
        errno = 0;
        return false;
    }
    return true;
}

void report_input_shorter(const InputState &noted, long long read) {
    report(format("%sit had %lld bytes and ended after %lld.", kChanged, noted.size, read));
    errno = 0;
}

}  // namespace qs
