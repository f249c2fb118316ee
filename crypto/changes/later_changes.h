// What the updates written after a signature did, as a validation report
// tells it: nothing, only changes a signed document may receive (and which
// kinds), or a change it may not, with the reason. A certification's /P level
// narrows what is allowed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qs {

struct LaterChanges {
    std::string verdict = "none";  // "none", "allowed" or "disallowed"
    std::string detail;            // the kinds joined, or the reason
    std::vector<std::string> kinds;  // "validation data", "document timestamp", "later signature", "information",
                                     // "form filling"
};

// The updates of file (size bytes) after its first signed_end bytes, judged
// for a signature whose certification level is certification (0: none).
LaterChanges judge_later_changes(std::FILE *file, long signed_end, long size, int certification);

}  // namespace qs
