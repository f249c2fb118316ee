// Whether the updates written after a signed revision leave what was signed
// as it was. Each later revision is checked for a layout that every reader
// resolves alike, then compared with the one before it, object by object,
// and every change must be one of those a signed document may receive:
// validation data, a further signature or timestamp, or new text in the
// document information with its metadata.
#pragma once

#include <cstdio>
#include <string>

#include "crypto/changes/allowed_changes.h"

namespace qs {

struct LaterUpdates {
    enum class Outcome {
        None,     // nothing was written after the signed revision
        Allowed,  // updates were, and none changes what was signed
        Refused   // an update changes it, or cannot be compared with it
    };
    Outcome outcome = Outcome::None;
    unsigned kinds = 0;  // UpdateKind of the changes the updates brought, when allowed
    std::string reason;  // the failure message, when refused
};

// Judges every update of file (size bytes) written after the revision that
// ends at signed_end (the end of a signature's byte range), update by update.
LaterUpdates judge_later_updates(std::FILE *file, long signed_end, long size);

}  // namespace qs
