// The writer shared by every incremental update: object framing, dictionary
// serialization, forward references to objects that exist only in the update,
// the offset table, and the cross-reference section with trailer and tail.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "pdf/qpdf_api.h"

namespace qs {

// The form of the new cross-reference section follows the input's last one.
enum class XrefForm { Table, Stream };

// A classic table when the trailer qpdf reports has no /Type, else a stream.
XrefForm xref_form(QPDFObjectHandle trailer);

// New objects an update may create at most.
constexpr int kNewObjectsRoom = 1 << 20;

// The first object number an update may give a new object: the trailer's
// /Size, never below the highest number in use. Throws for a trailer without
// /Size or one whose new numbers would leave the range of int.
int first_new_object_number(QPDF &pdf, QPDFObjectHandle trailer);

// Ten decimal digits, zero padded: the offset field of a classic table entry.
std::string xref_line_offset(long offset);
// Six bytes of a cross-reference stream entry: type 1, offset (4 bytes, big-endian), generation.
std::string xref_stream_entry(long offset, int generation = 0);

// "12_0_R": the text of the name that stands for a reference to new object 12.
std::string placeholder_text(int number);
// The name object that stands for a reference to new object number.
QPDFObjectHandle forward_reference(int number);
// Turns every forward-reference name of a serialized object into "n 0 R" in
// place (the text keeps its length). Strings and names of the document are
// never touched. Returns the number of references resolved.
int resolve_forward_references(std::string &text);

// The dictionary text of an object, as qpdf's unparseResolved writes it.
std::string serialize(QPDFObjectHandle object);
// "n g obj\n" + body + "\nendobj\n".
std::string frame_object(int number, int generation, std::string_view body);

// An object that exists only in the update: its dictionary text (forward
// references not yet resolved) and, for a stream, its data as stored.
struct NewObject {
    int number = 0;
    std::string dictionary;
    bool stream = false;
    std::string data;
    bool crlf = false;  // the data framed by "\r\n" on both sides instead of "\n"
};

// A new stream object: dictionary, given /Length (the size of data as
// stored), serialized.
NewObject new_stream(int number, QPDFObjectHandle dictionary, std::string data);

// The object's text with its forward references resolved: framed as
// frame_object, or for a stream "n 0 obj\n" + dictionary + "\nstream\n" +
// data + "\nendstream\nendobj\n".
std::string frame_new_object(const NewObject &object);
// The same text appended to text (large stream data is copied once).
void append_new_object(std::string &text, const NewObject &object);

// The 16-byte MD5 digest of data.
std::string md5(std::string_view data);

// Run table of the offset table's object numbers: for the first object of a
// run of consecutive numbers the run's length, for every other object -1.
std::map<int, int> xref_runs(const std::map<int, long> &offsets);

// Builds one update in memory. Offsets are absolute: the input size plus the
// bytes written so far.
class UpdateWriter {
public:
    UpdateWriter(long input_size, int next_number, XrefForm form);

    // Takes the next object number for a new object.
    int allocate() { return next_++; }
    int next_number() const { return next_; }
    XrefForm form() const { return form_; }
    // Absolute offset at which the next byte of the update lands.
    long offset() const { return input_size_ + static_cast<long>(text_.size()); }

    // Bytes that belong to no object (the line break that opens an update).
    void append(std::string_view raw) { text_.append(raw.data(), raw.size()); }
    // Frames body (forward references already resolved or not: they are
    // resolved here) as object number and records its offset. Returns the
    // position of the object's first byte in the update text.
    std::size_t add_object(int number, std::string body, int generation = 0);
    // A new object as frame_new_object writes it.
    std::size_t add(const NewObject &object);

    // Appends the cross-reference section: the table and "trailer" dictionary,
    // or the cross-reference stream; then "startxref", its offset and "%%EOF".
    void finish(QPDFObjectHandle trailer);

    const std::map<int, long> &offsets() const { return offsets_; }
    std::string &text() { return text_; }

private:
    // Enters the offset of the object whose text is appended next; returns
    // the position of that text in the update.
    std::size_t record(int number, int generation);
    void finish_table(QPDFObjectHandle trailer, long section);
    void finish_stream(QPDFObjectHandle trailer, long section);

    long input_size_;
    int next_;
    XrefForm form_;
    std::map<int, long> offsets_;
    std::map<int, int> generations_;
    std::string text_;
};

}  // namespace qs
