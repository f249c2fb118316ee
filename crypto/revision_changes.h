// Whether the updates written after a signature leave what was signed as it
// was. Each later revision is compared with the one before it, object by
// object, and every change must be one of those a signed document may
// receive: validation data, a further signature or timestamp, or new text in
// the document information.
#pragma once

#include <cstdio>
#include <string>

#include "pdf/qpdf_api.h"

namespace qs {

// The failure message for the update from before to after: what it changed
// that it may not, or that an object it defines cannot be read. An empty text
// when neither is so.
std::string revision_change(QPDF &before, QPDF &after);

// Examines every revision of file (size bytes) after its first signed_end
// bytes, update by update. 0 when none changes what was signed; otherwise -1
// with the change named in the message slot.
int check_later_revisions(std::FILE *file, long signed_end, long size);

}  // namespace qs
