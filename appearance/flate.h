// zlib (Flate) compression of stream data, in the format the /FlateDecode
// filter reads: zlib header, deflate data, Adler-32.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qs {

// The data compressed at the default level. Throws when zlib fails.
std::string deflate_bytes(std::string_view data);

// The data decompressed; nothing when it is not one complete zlib stream.
std::optional<std::string> inflate_bytes(std::string_view data);

}  // namespace qs
