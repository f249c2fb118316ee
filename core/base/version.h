// The version the library names in documents, in network requests and in its
// version text. The number comes from the project version of the build.
#pragma once

#ifndef QS_VERSION
#error "QS_VERSION is defined by the build"
#endif

namespace qs {

inline constexpr const char *kVersion = "v" QS_VERSION;
inline constexpr const char *kProductVersion = "Quillseal v" QS_VERSION;

}  // namespace qs
