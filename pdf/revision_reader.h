// Reading the earlier states of a document that was saved with incremental
// updates: each update ends with its own "startxref" and "%%EOF", and the
// bytes up to that end are a complete PDF of the document as it stood then.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "pdf/qpdf_api.h"

namespace qs {

// The first length bytes of an open file read by qpdf as a document of its
// own. Without recovery a damaged cross-reference section throws instead of
// being rebuilt by scanning. The file's own position is left alone.
std::unique_ptr<QPDF> open_revision(std::FILE *file, long length, bool attempt_recovery);

// The ends of the updates written after offset from, in order: each is just
// past an "%%EOF" line whose "startxref" names an offset after the previous
// end. The last entry is always size, the end of the file. At most limit
// entries are gathered; the result is then one longer than limit.
std::vector<long> later_revision_ends(std::FILE *file, long from, long size, std::size_t limit);

}  // namespace qs
