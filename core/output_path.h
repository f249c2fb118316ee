// Checks on the output path of a driver before anything is opened for writing.
#pragma once

namespace qs {

// True when output names the input file itself: the same path, another
// spelling of it, a hard link or a symbolic link (same device and inode).
bool same_file(const char *input, const char *output);

// Reports and returns -1 when output names the input, else returns 0.
int refuse_output_over_input(const char *input, const char *output);

// Reports and returns -1 when output exists and is no regular file (a device,
// a FIFO, a directory): it is neither written nor removed after a failure.
int refuse_output_that_is_no_file(const char *output);

}  // namespace qs
