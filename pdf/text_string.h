// Texts of the caller (reasons, locations, titles, field names) as PDF text
// strings that readers decode to the characters the caller gave.
#pragma once

#include <string>

#include "pdf/qpdf_api.h"

namespace qs {

// A text string for value: plain ASCII and texts that are not UTF-8 (bytes
// of another encoding) keep their bytes; UTF-8 with characters beyond ASCII
// becomes PDFDocEncoding when every character has a code there, else UTF-16BE
// with its byte-order mark.
QPDFObjectHandle text_string(const std::string &value);

}  // namespace qs
