// Opening the files a run reads: only regular files are opened. A FIFO would
// block the run until some other process writes to it, and a device such as
// /dev/zero never ends.
#pragma once

#include "core/base/handles.h"

namespace qs {

// Reading only ("rb"), or reading and writing in place ("r+b").
enum class OpenFor { Reading, Update };

// Opens path ("rb", or "r+b" for an update) when it names a regular file
// (symbolic links followed). Otherwise returns nothing; not_regular tells a
// path that exists but names no regular file from one that cannot be opened
// at all (errno).
FilePtr open_regular_file(const char *path, bool &not_regular, OpenFor mode = OpenFor::Reading);

// open_regular_file that reports its failure: the system error in the form
// "%s [File: %s]", or that the path names no regular file.
FilePtr open_input_file(const char *path, OpenFor mode = OpenFor::Reading);

}  // namespace qs
