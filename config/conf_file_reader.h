// Reading of the key=value configuration file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/base/handles.h"

namespace qs {

constexpr const char *kDefaultConfFile = "/usr/local/quillseal/quillseal.conf";

// True when the entry name (without its "=") is a secret of the key=value
// file: a password, PIN or token, read through read_secret wherever it is given.
bool is_secret_entry(std::string_view name);

// Opens a configuration file for reading; anything but a regular file (a
// directory, a FIFO, a device) opens as nothing, like a missing file.
FilePtr open_config_file(const char *path);

// The message for a configuration file that cannot be read.
std::string config_open_message(const char *path);

// Every line of the stream as the line reader cuts them (at most 255 bytes,
// line ends kept). With cut, each piece is marked true when the line it
// belongs to goes on in the next piece. False when reading failed.
bool read_config_lines(FILE *stream, std::vector<std::string> &lines, std::vector<bool> *cut = nullptr);

}  // namespace qs
