// Escape rules of key=value lines and of the signature text template.
#pragma once

#include <string>
#include <string_view>

namespace qs {

// True when the line holds a backslash followed by a backslash or a colon.
bool has_line_escape(std::string_view line);

// The line with each backslash that escapes a backslash or a colon dropped.
std::string remove_line_escapes(std::string_view line);

// Backslash-r and backslash-n become CR and LF; everything else is kept.
std::string convert_text_escapes(std::string_view text);

}  // namespace qs
