// The output of a driver: checks on its path before anything is opened for
// writing, and the file being written, removed unless the driver keeps it.
#pragma once

#include <cstdio>
#include <string>

namespace qs {

// An output file being written. Unless keep() closed it cleanly, it is closed
// and removed when the object goes, on every path out of the driver, an
// exception included.
class PendingOutput {
public:
    PendingOutput(const char *path, std::FILE *file) : path_(path), file_(file) {}
    ~PendingOutput();
    PendingOutput(const PendingOutput &) = delete;
    PendingOutput &operator=(const PendingOutput &) = delete;

    std::FILE *get() const { return file_; }
    // Closes the finished file; false (and the file is removed) when closing fails.
    bool keep();

private:
    std::string path_;
    std::FILE *file_;
    bool kept_ = false;
};

// True when output names the input file itself: the same path, another
// spelling of it, a hard link or a symbolic link (same device and inode).
bool same_file(const char *input, const char *output);

// Reports and returns -1 when output names the input, else returns 0.
int refuse_output_over_input(const char *input, const char *output);

// Reports and returns -1 when output exists and is no regular file (a device,
// a FIFO, a directory): it is neither written nor removed after a failure.
int refuse_output_that_is_no_file(const char *output);

}  // namespace qs
