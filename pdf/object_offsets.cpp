// Byte spans of numbered objects in a finished file: from qpdf's listing of
// its cross-reference table, from a classic table, or from the nearest
// following offset among known object offsets.
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include <quillseal/pdf.h>

#include "core/base/guard.h"
#include "core/base/text.h"
#include "pdf/qpdf_api.h"

#include <qpdf/QPDFLogger.hh>

namespace {

// qpdf's cross-reference listing of the document on stream, one line per object.
std::string xref_listing(FILE *stream, const char *password) {
    std::ostringstream out, err;
    auto logger = QPDFLogger::create();
    logger->setOutputStreams(&out, &err);
    QPDF pdf;
    pdf.setLogger(logger);
    pdf.setSuppressWarnings(true);
    pdf.processFile("original_file", stream, false, password ? password : "");
    pdf.showXRefTable();
    return out.str();
}

// The offset on the listing line of object number, searched from position at;
// on success at moves past that line.
bool listed_offset(const std::string &listing, int number, std::size_t &at, long &offset) {
    const std::string head = qs::format("%d/0:", number);
    for (std::size_t pos = listing.find(head, at); pos != std::string::npos;
         pos = listing.find(head, pos + 1)) {
        if (pos != 0 && listing[pos - 1] != '\n') continue;  // "1/0:" inside "11/0:"
        const std::size_t eol = listing.find('\n', pos);
        const std::string line = listing.substr(pos, eol == std::string::npos ? eol : eol - pos);
        const std::size_t key = line.find("offset = ");
        if (key == std::string::npos) return false;  // stored in an object stream
        offset = std::atol(line.c_str() + key + 9);
        at = eol == std::string::npos ? listing.size() : eol;
        return true;
    }
    return false;
}

// The offset in a classic table entry: its first ten characters in decimal.
// A line that is no entry (the table ended) gives false.
bool read_entry(FILE *stream, long &offset) {
    char line[256];
    if (!lgets(line, sizeof line, stream) || std::strlen(line) < 11 || line[10] != ' ') return false;
    for (int i = 0; i < 10; ++i)
        if (line[i] < '0' || line[i] > '9') return false;
    line[10] = '\0';
    offset = std::atol(line);
    return true;
}

}  // namespace

extern "C" {

QS_API int qpdf_read_obj_start_end_offsets(FILE *stream, const char *password, int number,
                                           long *start, long *end) {
    return qs::guarded([&]() -> int {
        if (!stream || !start || !end) {
            qs::report("Missing file or result for the object offsets.");
            return -1;
        }
        const std::string listing = xref_listing(stream, password);
        std::size_t at = 0;
        long first = 0, next = 0;
        // An object kept in an object stream has no offset of its own.
        if (!listed_offset(listing, number, at, first)) {
            qs::report(qs::format("The cross-reference table lists no file offset for object %d.", number));
            return -1;
        }
        *start = first;
        if (!listed_offset(listing, number + 1, at, next)) {
            qs::report(qs::format("The cross-reference table lists no file offset for object %d.", number + 1));
            return -1;
        }
        *end = next;
        return 0;
    });
}

QS_API int readObjStartEndOffsets(FILE *stream, long xref, int number, long *start, long *end) {
    if (!stream || !start || !end || number < 0 || std::fseek(stream, xref, SEEK_SET) != 0) {
        qs::report("The cross-reference table cannot be read.");
        return -1;
    }
    char line[256];
    // The "xref" line, the subsection header, and the entries of objects before number.
    for (long skip = 0; skip < static_cast<long>(number) + 2; ++skip) {
        if (!lgets(line, sizeof line, stream)) {
            qs::report("The cross-reference table ends before the object's entry.");
            return -1;
        }
    }
    long first = 0, next = 0;
    if (!read_entry(stream, first) || !read_entry(stream, next)) {
        qs::report("The cross-reference table holds no entry for the object.");
        return -1;
    }
    *start = first;
    *end = next;
    return 0;
}

QS_API long getObjEndByteOffset(long start, const long *offsets, const long *candidates,
                                int count, long fallback) {
    long bound = candidates ? candidates[0] : 0;
    if (candidates && bound != 0)
        for (const long *z = candidates + 1; *z != 0; ++z)
            if (*z > start && *z < bound) bound = *z;
    return getByteOffsetEnd(start, offsets, bound, count, fallback);
}

QS_API long getByteOffsetEnd(long start, const long *offsets, long candidate, int count,
                             long fallback) {
    long bound = candidate;
    if (fallback != 0) {
        if (start < candidate) return candidate;
        bound = fallback;
    }
    for (int i = 0; offsets && i < count; ++i)
        if (offsets[i] > start && offsets[i] < bound) bound = offsets[i];
    return bound;
}

}  // extern "C"
