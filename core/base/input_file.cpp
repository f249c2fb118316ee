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

FilePtr open_input_file(const char *path, OpenFor mode) {
    bool not_regular = false;
    FilePtr file = open_regular_file(path, not_regular, mode);
    if (file) return file;
    if (not_regular)
        report(format("Not a regular file [File: %s]", path));
    else
        handle_fopen_error_message(path ? path : "");
    return file;
}

}  // namespace qs
