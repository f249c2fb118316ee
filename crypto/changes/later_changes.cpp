#include "crypto/changes/later_changes.h"

#include "crypto/changes/revision_changes.h"

namespace qs {
namespace {

struct KindName {
    unsigned flag;
    const char *name;
};

// The kinds a report names, in this order; metadata refreshed with the
// information counts as information.
const KindName kKinds[] = {
    {kUpdateSecurityStore, "validation data"},
    {kUpdateTimestamp, "document timestamp"},
    {kUpdateSignature, "later signature"},
    {kUpdateInformation | kUpdateMetadata, "information"},
    {kUpdateFormFilling, "form filling"},
};

// What a certification of this level allows after it: validation data and
// document timestamps always; further signatures, information and form
// filling from /P 2.
unsigned allowed_after(int certification) {
    if (certification == 1) return kUpdateSecurityStore | kUpdateTimestamp;
    return ~0u;
}

}  // namespace

LaterChanges judge_later_changes(std::FILE *file, long signed_end, long size, int certification) {
    LaterChanges changes;
    const LaterUpdates later = judge_later_updates(file, signed_end, size);
    if (later.outcome == LaterUpdates::Outcome::None) return changes;
    if (later.outcome == LaterUpdates::Outcome::Refused) {
        changes.verdict = "disallowed";
        changes.detail = later.reason;
        return changes;
    }
    changes.verdict = "allowed";
    for (const KindName &kind : kKinds) {
        if (!(later.kinds & kind.flag)) continue;
        changes.kinds.push_back(kind.name);
        changes.detail += (changes.detail.empty() ? "" : ", ") + std::string(kind.name);
    }
    const unsigned beyond = later.kinds & ~allowed_after(certification);
    if (beyond) {
        changes.verdict = "disallowed";
        changes.detail = "The certification (/P " + std::to_string(certification) +
                         ") allows no changes but validation data and document timestamps; the updates after it "
                         "bring: " + changes.detail;
    }
    return changes;
}

}  // namespace qs
