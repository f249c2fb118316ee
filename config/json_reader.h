// Filling the record from a JSON configuration text.
#pragma once

#include <string>

#include <quillseal/config.h>

namespace qs {

// What read_conf_json does. When the key=value file path (the text itself or
// its "conffile" member) is too long for conffile, the field holds it cut and
// the whole path is left in *too_long.
void fill_from_json(const char *configuration, SigningConfig *config, std::string *too_long = nullptr);

}  // namespace qs
