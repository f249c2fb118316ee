// An empty signature field, prepared for a signer who comes later: its
// widget on a page, its place in the form under its fully qualified name,
// and optionally the lock its signature will carry, appended to an unsigned
// document as one incremental update.
#pragma once

#include <cstdio>
#include <string>

#include "pdf/field_lock.h"

namespace qs {

struct EmptyFieldRequest {
    std::string name;     // fully qualified; dots make or reuse parents
    int page = 1;         // 1-based
    int rect[4] = {0, 0, 0, 0};  // lower-left x, y, upper-right x, y
    const FieldLock *lock = nullptr;  // the field's /Lock; none when null
};

// Builds the update for input. False with the refusal reported: a signed or
// encrypted document, a name the form has, a page it has not, an empty or
// inverted rectangle.
bool build_empty_field_update(std::FILE *input, const EmptyFieldRequest &request, std::string &update);

}  // namespace qs
