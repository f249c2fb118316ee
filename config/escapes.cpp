// Backslash escapes of configuration lines and of the signature text.
#include "config/escapes.h"

#include <cstring>

#include <quillseal/config.h>

#include "core/base/guard.h"

namespace {

bool escapes_next(std::string_view text, std::size_t i) {
    return text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == ':');
}

}  // namespace

namespace qs {

bool has_line_escape(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i)
        if (escapes_next(line, i)) return true;
    return false;
}

std::string remove_line_escapes(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        // The escaped character is taken as it stands, so "\\\\" is one
        // backslash and "\\\\:" a backslash and a colon.
        if (escapes_next(line, i)) ++i;
        out += line[i];
    }
    return out;
}

std::string convert_text_escapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
            out += text[i + 1] == 'n' ? '\n' : '\r';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace qs

extern "C" {

QS_API void removeEscapeCharacters(const char *in, char *out) {
    if (!out) return;
    if (!in) {
        out[0] = '\0';
        return;
    }
    qs::guarded([&]() -> int {
        // The result is never longer than the input, so out needs no more room than in.
        const std::string text = qs::remove_line_escapes(in);
        std::memcpy(out, text.c_str(), text.size() + 1);
        return 0;
    });
}

}  // extern "C"
