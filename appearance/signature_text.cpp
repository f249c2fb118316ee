// Filling the visible signature text template.
#include "appearance/signature_text.h"

#include <cstdlib>
#include <cstring>

#include <quillseal/appearance.h>

#include "core/base/guard.h"
#include "core/base/text.h"

namespace {

// Replaces the first occurrence of placeholder (two characters) by value.
void replace_first(std::string &text, std::string_view placeholder, std::string_view value) {
    const std::size_t at = text.find(placeholder);
    if (at == std::string::npos) return;
    text.replace(at, placeholder.size(), value);
    qs::cut_text(text, qs::kSignatureTextMax);
}

std::size_t utf8_length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

namespace qs {

void cut_text(std::string &text, std::size_t max) {
    if (text.size() <= max) return;
    std::size_t cut = max;
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        // The first byte dropped continues a character: drop that character's
        // earlier bytes too when they form a UTF-8 sequence cut short.
        for (std::size_t back = 1; back <= 3 && back <= cut; ++back) {
            const unsigned char b = static_cast<unsigned char>(text[cut - back]);
            if ((b & 0xC0) == 0x80) continue;
            if (b >= 0xC0 && utf8_length(b) > back) cut -= back;
            break;
        }
    }
    text.resize(cut);
}

bool uses_custom_date(std::string_view sigtext) { return sigtext.find("%C") != std::string_view::npos; }

std::string fill_signature_template(std::string_view sigtext, std::string_view name,
                                    std::string_view reason, std::string_view location,
                                    std::string_view date) {
    std::string text(sigtext);
    cut_text(text, kSignatureTextMax);
    replace_first(text, "%N", "!N");
    replace_first(text, "%R", "!R");
    replace_first(text, "%L", "!L");
    replace_first(text, "%Z", date);
    replace_first(text, "%T", date.substr(0, 19));
    replace_first(text, "%D", date.substr(0, 10));
    replace_first(text, "%C", date);
    replace_first(text, "!L", location);
    replace_first(text, "!N", name);
    replace_first(text, "!R", reason);
    return text;
}

}  // namespace qs

extern "C" {

QS_API int prepare_visible_signature_text(const char *sigtext, const char *name, const char *reason,
                                          const char *location, const char *date, char **text) {
    return qs::guarded([&] {
        if (!text) {
            qs::report("No place was given for the signature text.");
            return -1;
        }
        *text = nullptr;
        const std::string filled = qs::fill_signature_template(qs::view(sigtext), qs::view(name),
                                                               qs::view(reason), qs::view(location),
                                                               qs::view(date));
        char *out = static_cast<char *>(std::calloc(qs::kSignatureTextMax + 1, 1));
        if (!out) {
            qs::report("Out of memory while preparing the signature text.");
            return -1;
        }
        std::memcpy(out, filled.data(), filled.size());
        *text = out;
        return 0;
    });
}

}  // extern "C"
