// Opening the files a run reads: only regular files are opened. A FIFO would
// block the run until some other process writes to it, and a device such as
// /dev/zero never ends.
#pragma once

#include <cstdio>

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
// "%s [File: %s]", or that the path names no regular file (not_regular_text
// when given, else "Not a regular file [File: %s]"). A FIFO is never waited
// on, nor a device read without end.
FilePtr open_input_file(const char *path, OpenFor mode = OpenFor::Reading, const char *not_regular_text = nullptr);

// An open input as it was when its signing began. Its bytes are signed as they
// were read: a document that changes meanwhile (rewritten, truncated or grown
// by another process) must not be signed as bytes it no longer holds.
struct InputState {
    long long size = -1;
    long long modified_ns = 0;
    unsigned long long device = 0, inode = 0;
};

// The state of an open input; false, reported, when it cannot be read.
bool note_input(std::FILE *input, InputState &state);

// True while the open input is as noted. Otherwise false, reported as "The
// input document changed while it was being signed: ...".
bool input_unchanged(std::FILE *input, const InputState &noted);

// The report of an input that ended before the noted size was read.
void report_input_shorter(const InputState &noted, long long read);

}  // namespace qs
