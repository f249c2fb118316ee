// Ownership of the record's certfile text, shared by the two readers.
#pragma once

#include <cstddef>

#include <quillseal/config.h>

namespace qs {

// Every certfile buffer holds at least this many bytes, so a key=value line can
// always be stored into an empty one.
constexpr std::size_t kCertfileBuffer = 256;

// Gives the record an empty certfile buffer unless it has one; false when
// memory runs out.
bool give_empty_certfile(SigningConfig *config);

// Replaces the record's certfile with text (malloc'd, at least kCertfileBuffer
// bytes), releasing the old one.
void set_certfile(SigningConfig *config, char *text);

}  // namespace qs
