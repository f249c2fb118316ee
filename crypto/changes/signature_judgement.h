// The one judgement of a signed document that `verify` and the validation
// report share: every signature and document timestamp, oldest first, each
// verified over its own byte ranges and judged for what the updates after it
// changed. The newest signature is the one whose signed bytes end latest in
// the file, whatever the order of the form's fields.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/base/handles.h"
#include "crypto/changes/later_changes.h"
#include "pdf/signature_inventory.h"

namespace qs {

struct SignatureJudgement {
    SignatureEntry entry;
    bool intact = false;       // the contents verify over the signed ranges
    std::string intact_detail;  // why not, when not
    long revision_end = -1;    // offset of the "%%EOF" that ends the signed bytes
    CmsPtr cms;                // the decoded contents; null when they are no CMS object
    LaterChanges changes;      // what the updates after the signed bytes did
};

// The document of file is read with read_whole_document (signature_inventory).

// Judges every signature of pdf, read from file (size bytes), oldest first:
// the newest is the last. False, reported, when the document's objects
// cannot be read.
bool judge_signatures(std::FILE *file, long size, QPDF &pdf, std::vector<SignatureJudgement> &judged);

// The verdict of `verify` on the judgement: 0 when every signature is intact
// and no update after one changed what it signed or what its certification
// allows; otherwise -1 with the first problem reported, the newest
// signature's first.
int refuse_unsound(const std::vector<SignatureJudgement> &judged);

}  // namespace qs
