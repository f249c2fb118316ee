// Reading the earlier states of a document that was saved with incremental
// updates: each update ends with its own "startxref" and "%%EOF", and the
// bytes up to that end are a complete PDF of the document as it stood then.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include <qpdf/InputSource.hh>

#include "pdf/qpdf_api.h"

namespace qs {

// The first length bytes of an open file as a qpdf input, read in blocks at
// positions of its own, so that the file's position is left alone.
std::shared_ptr<InputSource> file_prefix_source(std::FILE *file, long length);

// The first length bytes of an open file read by qpdf as a document of its
// own. Without recovery a damaged cross-reference section throws instead of
// being rebuilt by scanning. The file's own position is left alone.
std::unique_ptr<QPDF> open_revision(std::FILE *file, long length, bool attempt_recovery);

// Where a revision ends: the tail "startxref" offset "%%EOF" and the one line
// end after it.
struct RevisionEnd {
    long eof = 0;        // just past the "%%EOF"
    long end = 0;        // just past the line end that follows it
    long startxref = 0;  // the offset the "startxref" line names
};

// The ends of the complete updates written after offset from, in order: each
// is an "%%EOF" line whose "startxref" names an offset after the previous
// end. Gathering stops after limit + 1 ends, so a result longer than limit
// means that there are too many.
std::vector<RevisionEnd> later_revision_ends(std::FILE *file, long from, long size, std::size_t limit);

// The offset named by the "startxref" line of the last "%%EOF" that ends at
// most a line end before offset end, as a reader of the first end bytes
// finds it; -1 when there is none.
long revision_startxref(std::FILE *file, long end);

// True when bytes [from, size) of file hold anything a reader could take for
// part of the document: an object, a cross-reference section or a trailer.
bool holds_document_parts(std::FILE *file, long from, long size);

}  // namespace qs
