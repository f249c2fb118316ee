// The text of a visible signature, filled in from the sigtext template.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qs {

// The longest text the template filling works on (a 512-byte buffer).
constexpr std::size_t kSignatureTextMax = 511;

// Cuts text to at most max bytes, never through the middle of a UTF-8 character.
void cut_text(std::string &text, std::size_t max);

// True when the template asks for the custom date ("%C").
bool uses_custom_date(std::string_view sigtext);

// Fills the template: each placeholder is replaced at its first occurrence,
// every intermediate text held to kSignatureTextMax bytes.
std::string fill_signature_template(std::string_view sigtext, std::string_view name,
                                    std::string_view reason, std::string_view location,
                                    std::string_view date);

}  // namespace qs
