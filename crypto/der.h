// The DER encoding of an OpenSSL object as a byte string.
#pragma once

#include <cstddef>
#include <string>

#include "core/base/handles.h"

namespace qs {

// The DER bytes of object through its i2d function; empty for no object or
// one that cannot be encoded.
template <typename T, int (*Encode)(const T *, unsigned char **)>
std::string der_of(const T *object) {
    unsigned char *bytes = nullptr;
    const int length = object ? Encode(object, &bytes) : -1;
    OpensslBufferPtr owned(bytes);
    return length > 0 ? std::string(reinterpret_cast<char *>(bytes), static_cast<std::size_t>(length)) : std::string();
}

}  // namespace qs
