#include "pdf/text_string.h"

#include <algorithm>

#include "core/base/text.h"

namespace qs {

namespace {

bool is_ascii(const std::string &text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

QPDFObjectHandle text_string(const std::string &value) {
    if (is_ascii(value) || !is_utf8(value)) return QPDFObjectHandle::newString(value);
    return QPDFObjectHandle::newUnicodeString(value);
}

}  // namespace qs
