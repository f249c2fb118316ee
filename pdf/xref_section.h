// One cross-reference section as a reader finds it at the offset that
// "startxref", /Prev or /XRefStm names: a classic table with its trailer, or
// a cross-reference stream. Read strictly: a row or header of any other shape
// is refused rather than guessed at, because readers guess differently.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <vector>

#include <qpdf/InputSource.hh>

#include "pdf/qpdf_api.h"

namespace qs {

// A section that cannot be read as written, with what is amiss.
class XrefSectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class XrefRowType { Free, InFile, InStream };

struct XrefRow {
    int number = 0;
    XrefRowType type = XrefRowType::Free;
    long long place = 0;  // InFile: the offset; InStream: the object stream's number
    int generation = 0;   // InFile, Free: the generation; InStream: the index in the object stream
};

// "n g obj" as written at an offset.
struct ObjectHeader {
    int number = 0;
    int generation = 0;
    long start = 0;    // the first digit of n
    long keyword = 0;  // the "o" of "obj"
};

// Bytes [start, end) of the file.
struct ByteSpan {
    long start = 0;
    long end = 0;
};

// An indirect object read at its header.
struct StoredObject {
    QPDFObjectHandle value;  // the object, or a stream's dictionary
    bool stream = false;
    // A stream whose /Length is a direct number and whose data end right
    // before "endstream", so that every reader finds the same data.
    bool data_known = false;
    ByteSpan data;
};

struct XrefSection {
    bool stream = false;         // a cross-reference stream rather than a table
    std::vector<XrefRow> rows;   // in the order written
    QPDFObjectHandle trailer;    // the trailer, or the stream's dictionary
    std::vector<long> keywords;  // a table's "xref" and "trailer" keywords
    ObjectHeader header;         // a stream's object header
    StoredObject object;         // a stream's object
};

// The header that begins exactly at offset; false when there is none there.
bool read_object_header(InputSource &source, long offset, ObjectHeader &header);

// The object after header, its references made in scratch. Throws
// XrefSectionError when it cannot be parsed.
StoredObject read_stored_object(const std::shared_ptr<InputSource> &source, const ObjectHeader &header,
                                QPDF &scratch);

// The section at offset, with at most max_rows rows; objects are parsed into
// scratch. Throws XrefSectionError naming what is amiss.
XrefSection read_xref_section(const std::shared_ptr<InputSource> &source, long offset, QPDF &scratch,
                              std::size_t max_rows);

// The value of a direct integer entry of a dictionary; false when the entry
// is missing, indirect or no integer.
bool direct_integer(QPDFObjectHandle dictionary, const char *key, long long &value);

}  // namespace qs
