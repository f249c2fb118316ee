// Byte-level helpers on caller-opened streams: lines with any end-of-line
// convention, file size, and spans copied (by the kernel where it can) or
// read in large blocks.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <quillseal/pdf.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;

enum class KernelCopy { Done, Failed, Unsupported };

// Copies length bytes from offset start of source to the current position of
// destination inside the kernel, without passing them through this process;
// both streams are left positioned after their span. Unsupported (nothing
// copied) where the kernel cannot copy between these two files.
KernelCopy copy_in_kernel(FILE *source, FILE *destination, long start, long length) {
    // Both streams hand what they buffer to their files first.
    if (std::fseek(source, start, SEEK_SET) != 0 || std::fflush(destination) != 0) return KernelCopy::Failed;
    const off_t at = ftello(destination);
    if (at < 0) return KernelCopy::Unsupported;
    off_t from = start, to = at;
    long left = length;
    while (left > 0) {
        const ssize_t moved = copy_file_range(fileno(source), &from, fileno(destination), &to,
                                              static_cast<std::size_t>(left), 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 && left == length &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF))
            return KernelCopy::Unsupported;
        if (moved <= 0) return KernelCopy::Failed;  // an error, or the source ends early
        left -= static_cast<long>(moved);
    }
    if (fseeko(destination, to, SEEK_SET) != 0 || fseeko(source, from, SEEK_SET) != 0) return KernelCopy::Failed;
    return KernelCopy::Done;
}

// The same copy through a block of this process's memory.
bool copy_in_blocks(FILE *source, FILE *destination, long start, long length) {
    if (std::fseek(source, start, SEEK_SET) != 0) return false;
    long left = length;
    // Sized to the span and left uninitialised: a small file pays for no more.
    const std::size_t size = left > 0 && left < static_cast<long>(kBlock) ? static_cast<std::size_t>(left) : kBlock;
    std::unique_ptr<char[]> block(new char[size]);
    while (left > 0) {
        const std::size_t want = left < static_cast<long>(size) ? static_cast<std::size_t>(left) : size;
        const std::size_t got = std::fread(block.get(), 1, want, source);
        if (got == 0) return false;
        if (std::fwrite(block.get(), 1, got, destination) != got) return false;
        left -= static_cast<long>(got);
    }
    return true;
}

}  // namespace

extern "C" {

QS_API char *lgets(char *buffer, int length, FILE *stream) {
    if (!buffer || length <= 0 || !stream) return nullptr;
    int stored = 0;
    int ch = 0;
    bool hit_end = false;
    while (stored < length - 1) {
        ch = std::getc(stream);
        if (ch == EOF) {
            hit_end = true;
            break;
        }
        buffer[stored++] = static_cast<char>(ch);
        if (ch == '\r' || ch == '\n') break;
    }
    if (ch == '\r' && stored < length - 1) {
        const int next = std::getc(stream);
        if (next == '\n')
            buffer[stored++] = '\n';
        else if (next != EOF)
            std::ungetc(next, stream);
    }
    buffer[stored] = '\0';
    // Only an end of file met before any character makes the result null.
    return (hit_end && stored == 0) ? nullptr : buffer;
}

QS_API long getFileSize(FILE *stream) {
    if (!stream || std::fseek(stream, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(stream);
    std::rewind(stream);
    return size;
}

QS_API long copy_file_section(FILE *source, FILE *destination, long start, long end) {
    // The block copy allocates its buffer: no exception may leave this function.
    return qs::guarded([&]() -> long {
        if (!source || !destination) return -1;
        const long before = std::ftell(destination);
        if (start < 0) return -1;
        const long length = end - start;
        if (length <= 0) return std::fseek(source, start, SEEK_SET) == 0 ? before : -1;
        switch (copy_in_kernel(source, destination, start, length)) {
            case KernelCopy::Done: return before;
            case KernelCopy::Failed: return -1;
            case KernelCopy::Unsupported: break;
        }
        return copy_in_blocks(source, destination, start, length) ? before : -1;
    });
}

QS_API char *get_file_section(FILE *stream, long start, long end) {
    if (!stream || end < start || std::fseek(stream, start, SEEK_SET) != 0) return nullptr;
    const std::size_t size = static_cast<std::size_t>(end - start);
    char *buffer = static_cast<char *>(std::malloc(size + 1));
    if (!buffer) return nullptr;
    const std::size_t got = std::fread(buffer, 1, size, stream);
    // Bytes past the end of the file read as zero, so the buffer is always defined.
    if (got < size) std::memset(buffer + got, 0, size - got);
    buffer[size] = '\0';
    return buffer;
}

QS_API char *copy_file_to_buffer(const char *path, long *size) {
    if (size) *size = 0;
    if (!path) return nullptr;
    bool not_regular = false;
    qs::FilePtr file = qs::open_regular_file(path, not_regular);
    if (!file) return nullptr;
    const long length = getFileSize(file.get());
    if (length < 0) return nullptr;
    qs::MallocPtr<char> buffer(static_cast<char *>(std::malloc(length > 0 ? static_cast<std::size_t>(length) : 1)));
    if (!buffer) return nullptr;
    if (std::fread(buffer.get(), 1, static_cast<std::size_t>(length), file.get()) != static_cast<std::size_t>(length))
        return nullptr;
    if (size) *size = length;
    return buffer.release();
}

}  // extern "C"
