// The output of a driver: checks on its path before anything is opened for
// writing, and the file being written, which reaches the output path only
// when it is complete.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace qs {

// Names of the temporary files outputs are written into: this prefix and
// twelve letters or digits, so a name never holds ".pdf" and no directory run
// takes one for a document. One left in a directory is the partial output of
// a run that was killed.
inline constexpr const char *kPartialOutputPrefix = "quillseal-partial-";

// An output file written whole or not at all.
//
// The document is written into a temporary file created exclusively (never
// over an existing name) in the directory of the output, and keep() renames
// it to the output path once it is complete. Until then the output path is
// untouched: a file already there stays as it was, and a process killed at any
// instant leaves at most a partial file named by kPartialOutputPrefix beside
// it. When the object goes without keep() having succeeded, on every path out
// of a driver, an exception included, the temporary file is closed and
// removed; a driver that needs a scratch file it never keeps can use one too.
//
// A new output gets the permissions a plain create gives (0666 less the
// umask, default ACLs applied). An existing output is replaced only when it
// could have been opened for writing, and the replacement keeps its mode and,
// where the process may set it, its owner. No output is written through a
// symbolic link: an output path that is one, dangling or not, is refused, and
// the temporary file is created exclusively without following any link. The
// rename puts the complete file in place of whatever entry holds the name by
// then; it never writes into what a link planted meanwhile points to.
//
// A scratch file is created the same way beside the output, but readable and
// writable by its owner only, whatever the umask: it may hold what others
// must not read (a document before its encryption). It is never kept.
//
// Usage:
//     qs::PendingOutput out(path);
//     if (!out.get()) return -1;          // reported, naming path
//     ... write the document through out.get() ...
//     if (!out.keep()) return -1;         // reported; nothing at path changed
class PendingOutput {
public:
    enum class Use { Output, Scratch };

    // Creates the temporary file for path. When that fails (a missing
    // directory, no permission, an output that names no regular file or is a
    // symbolic link), get() is null and the reason is reported naming path,
    // errno kept.
    explicit PendingOutput(const char *path, Use use = Use::Output);
    ~PendingOutput();
    PendingOutput(const PendingOutput &) = delete;
    PendingOutput &operator=(const PendingOutput &) = delete;

    // The temporary file, open for reading and writing ("w+b"), or null.
    std::FILE *get() const { return file_; }
    // The temporary file's name, for writers that open by name.
    const std::string &temporary_path() const { return temporary_; }

    // Flushes and closes the complete file and renames it to the output path. False when any of that fails: the failure is reported
    // naming the output path (errno kept), the temporary file is removed and
    // the output path is as it was.
    bool keep();

private:
    bool open_temporary(const std::string &directory);
    bool take_over_existing(int fd);
    void discard() noexcept;

    std::string path_;       // the output path as the caller named it
    std::string temporary_;  // the file being written
    std::FILE *file_ = nullptr;
    bool scratch_ = false;   // owner-only and never kept
    bool replaces_ = false;  // path_ names a file, replaced by keep()
    mode_t mode_ = 0;        // the replaced file's mode, owner and group
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

// True when output names the input file itself: the same path, another
// spelling of it, a hard link or a symbolic link (same device and inode).
bool same_file(const char *input, const char *output);

// Reports and returns -1 when output names the input, else returns 0.
int refuse_output_over_input(const char *input, const char *output);

// Reports and returns -1 when output exists and is no regular file (a
// symbolic link, dangling or not, a device, a FIFO, a directory): it is
// neither written nor replaced.
int refuse_output_that_is_no_file(const char *output);

// The check every driver makes on its output path before it opens anything:
// both refusals above, in that order.
int refuse_unusable_output(const char *input, const char *output);

}  // namespace qs
