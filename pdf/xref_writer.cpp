// Object framing, serialization, forward references and the cross-reference
// section (classic table or cross-reference stream) of an incremental update.
#include "pdf/xref_writer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <openssl/evp.h>

#include <quillseal/pdf.h>

#include "core/base/guard.h"
#include "core/base/text.h"

namespace {

constexpr long kMaxTableOffset = 9999999999L;
constexpr long kMaxStreamOffset = 0xFFFFFFFFL;
constexpr const char *kReferenceTail = "_0_R";

bool is_delimiter(char c) {
    return std::strchr(" \t\r\n\f()<>[]{}/%", c) != nullptr || c == '\0';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Position just after the literal string that opens at i ("(").
std::size_t skip_literal_string(const std::string &t, std::size_t i) {
    int depth = 0;
    for (; i < t.size(); ++i) {
        if (t[i] == '\\') {
            ++i;
        } else if (t[i] == '(') {
            ++depth;
        } else if (t[i] == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return t.size();
}

// Position just after the name or other token that starts at i.
std::size_t skip_token(const std::string &t, std::size_t i) {
    ++i;
    while (i < t.size() && !is_delimiter(t[i])) ++i;
    return i;
}

std::string generation_field(int generation) {
    std::string digits = qs::decimal(generation);
    return std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
}

}  // namespace

namespace qs {

XrefForm xref_form(QPDFObjectHandle trailer) {
    return trailer.hasKey("/Type") ? XrefForm::Stream : XrefForm::Table;
}

int first_new_object_number(QPDF &pdf, QPDFObjectHandle trailer) {
    QPDFObjectHandle size = trailer.getKey("/Size");
    if (!size.isInteger()) throw std::runtime_error("The input PDF's trailer has no /Size.");
    const long long highest = static_cast<long long>(pdf.getObjectCount());
    const long long next = std::max<long long>(size.getIntValue(), highest + 1);
    // The update numbers a few new objects after it; they must stay int object numbers.
    if (next < 1 || next > INT_MAX - kNewObjectsRoom)
        throw std::runtime_error("The input PDF's trailer /Size is out of range.");
    return static_cast<int>(next);
}

std::string xref_line_offset(long offset) {
    if (offset < 0 || offset > kMaxTableOffset)
        throw std::runtime_error("The document is too large for a cross-reference table entry.");
    const std::string digits = decimal(offset);
    return std::string(10 - digits.size(), '0') + digits;
}

std::string xref_stream_entry(long offset, int generation) {
    if (offset < 0 || offset > kMaxStreamOffset || generation < 0 || generation > 255)
        throw std::runtime_error("The document is too large for a cross-reference stream entry.");
    const unsigned long value = static_cast<unsigned long>(offset);
    std::string entry(6, '\0');
    entry[0] = '\x01';
    entry[1] = static_cast<char>((value >> 24) & 0xFF);
    entry[2] = static_cast<char>((value >> 16) & 0xFF);
    entry[3] = static_cast<char>((value >> 8) & 0xFF);
    entry[4] = static_cast<char>(value & 0xFF);
    entry[5] = static_cast<char>(generation);
    return entry;
}

std::string placeholder_text(int number) { return decimal(number) + kReferenceTail; }

QPDFObjectHandle forward_reference(int number) {
    return QPDFObjectHandle::newName(placeholder_text(number));
}

int resolve_forward_references(std::string &t) {
    int count = 0;
    std::size_t i = 0;
    while (i < t.size()) {
        const char c = t[i];
        if (c == '(') {
            i = skip_literal_string(t, i);
        } else if (c == '<' && i + 1 < t.size() && t[i + 1] == '<') {
            i += 2;  // a dictionary opens
        } else if (c == '<') {
            const std::size_t close = t.find('>', i);  // a hexadecimal string
            i = close == std::string::npos ? t.size() : close + 1;
        } else if (c == '/') {
            i = skip_token(t, i);
        } else if (is_digit(c) && (i == 0 || is_delimiter(t[i - 1]))) {
            std::size_t j = i;
            while (j < t.size() && is_digit(t[j])) ++j;
            if (t.compare(j, 4, kReferenceTail) == 0 && (j + 4 == t.size() || is_delimiter(t[j + 4]))) {
                t[j] = ' ';
                t[j + 2] = ' ';
                ++count;
                i = j + 4;
            } else {
                i = skip_token(t, i);
            }
        } else {
            ++i;
        }
    }
    return count;
}

std::string serialize(QPDFObjectHandle object) { return object.unparseResolved(); }

std::string frame_object(int number, int generation, std::string_view body) {
    std::string text = decimal(number) + " " + decimal(generation) + " obj\n";
    text.append(body.data(), body.size());
    text += "\nendobj\n";
    return text;
}

NewObject new_stream(int number, QPDFObjectHandle dictionary, std::string data) {
    dictionary.replaceKey("/Length", QPDFObjectHandle::newInteger(static_cast<long long>(data.size())));
    NewObject object;
    object.number = number;
    object.dictionary = serialize(dictionary);
    object.stream = true;
    object.data = std::move(data);
    return object;
}

void append_new_object(std::string &text, const NewObject &object) {
    std::string dictionary = object.dictionary;
    resolve_forward_references(dictionary);
    if (!object.stream) {
        text += frame_object(object.number, 0, dictionary);
        return;
    }
    text += decimal(object.number) + " 0 obj\n" + dictionary + (object.crlf ? "\nstream\r\n" : "\nstream\n");
    text += object.data;
    text += object.crlf ? "\r\nendstream\nendobj\n" : "\nendstream\nendobj\n";
}

std::string frame_new_object(const NewObject &object) {
    std::string text;
    append_new_object(text, object);
    return text;
}

std::string md5(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("The MD5 digest could not be computed.");
    return std::string(reinterpret_cast<char *>(digest), length);
}

std::map<int, int> xref_runs(const std::map<int, long> &offsets) {
    std::map<int, int> runs;
    long start = -1;
    int length = 1;
    for (const auto &entry : offsets) {
        const int m = entry.first;
        if (m == start + length) {
            ++length;
            runs[m] = -1;
        } else {
            length = 1;
            start = m;
        }
        runs[static_cast<int>(start)] = length;
    }
    return runs;
}

UpdateWriter::UpdateWriter(long input_size, int next_number, XrefForm form)
    : input_size_(input_size), next_(next_number), form_(form) {}

std::size_t UpdateWriter::record(int number, int generation) {
    // Number 0 heads the free list. An input object without a number (a
    // catalog held directly in the trailer) cannot be written again under it.
    if (number < 1)
        throw std::runtime_error("The input PDF cannot be updated: an object the update writes again is not an "
                                 "indirect object.");
    offsets_[number] = offset();
    generations_[number] = generation;
    return text_.size();
}

std::size_t UpdateWriter::add_object(int number, std::string body, int generation) {
    resolve_forward_references(body);
    const std::size_t at = record(number, generation);
    text_ += frame_object(number, generation, body);
    return at;
}

std::size_t UpdateWriter::add(const NewObject &object) {
    const std::size_t at = record(object.number, 0);
    append_new_object(text_, object);
    return at;
}

void UpdateWriter::finish(QPDFObjectHandle trailer) {
    const long section = offset();
    if (form_ == XrefForm::Table)
        finish_table(trailer, section);
    else
        finish_stream(trailer, section);
}

void UpdateWriter::finish_table(QPDFObjectHandle trailer, long section) {
    text_ += "xref\n0 1\n0000000000 65535 f\r\n";
    const std::map<int, int> runs = xref_runs(offsets_);
    for (const auto &entry : offsets_) {
        const int run = runs.at(entry.first);
        if (run != -1) text_ += decimal(entry.first) + " " + decimal(run) + "\n";
        text_ += xref_line_offset(entry.second) + " " + generation_field(generations_[entry.first]) + " n\r\n";
    }
    trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(next_));
    std::string dictionary = serialize(trailer);
    resolve_forward_references(dictionary);
    text_ += "trailer\n" + dictionary + "\nstartxref\n" + decimal(section) + "\n%%EOF\n";
}

void UpdateWriter::finish_stream(QPDFObjectHandle trailer, long section) {
    const int number = allocate();
    record(number, 0);  // the stream lists itself, at the section offset
    trailer.replaceKey("/Type", QPDFObjectHandle::newName("/XRef"));
    QPDFObjectHandle widths = QPDFObjectHandle::newArray();
    for (int w : {1, 4, 1}) widths.appendItem(QPDFObjectHandle::newInteger(w));
    trailer.replaceKey("/W", widths);
    trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(next_));

    const std::map<int, int> runs = xref_runs(offsets_);
    QPDFObjectHandle index = QPDFObjectHandle::newArray();
    std::string entries;
    for (const auto &entry : offsets_) {
        const int run = runs.at(entry.first);
        if (run != -1) {
            index.appendItem(QPDFObjectHandle::newInteger(entry.first));
            index.appendItem(QPDFObjectHandle::newInteger(run));
        }
        entries += xref_stream_entry(entry.second, generations_[entry.first]);
    }
    trailer.replaceKey("/Index", index);
    trailer.replaceKey("/Length", QPDFObjectHandle::newInteger(static_cast<long long>(entries.size())));
    std::string dictionary = serialize(trailer);
    resolve_forward_references(dictionary);
    text_ += decimal(number) + " 0 obj\n" + dictionary + "\nstream\n" + entries +
             "\nendstream\nendobj\nstartxref\n" + decimal(section) + "\n%%EOF\n";
}

}  // namespace qs

extern "C" {

QS_API char *getXRefLineOffset(long offset, char *out) {
    return qs::guarded_ptr([&]() -> char * {
        if (!out) return nullptr;
        const std::string field = qs::xref_line_offset(offset);  // reports an offset out of range
        std::memcpy(out, field.c_str(), 11);
        return out;
    });
}

QS_API unsigned char *xRefStreamOffsetData(long offset, unsigned char *out) {
    if (!out) return nullptr;
    const unsigned long value = static_cast<unsigned long>(offset);
    out[0] = 0x01;
    out[1] = static_cast<unsigned char>((value >> 24) & 0xFF);
    out[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
    out[3] = static_cast<unsigned char>((value >> 8) & 0xFF);
    out[4] = static_cast<unsigned char>(value & 0xFF);
    out[5] = 0x00;
    return out;
}

QS_API char *indirectObjectPlaceHolder(int number, char *out) {
    return qs::guarded_ptr([&]() -> char * {
        if (!out) return nullptr;
        const std::string text = qs::placeholder_text(number);
        std::memcpy(out, text.c_str(), text.size() + 1);
        return out;
    });
}

QS_API unsigned char *compute_md5(const unsigned char *data, size_t length, unsigned char *out) {
    if (!out) return nullptr;
    std::memset(out, 0, 16);
    unsigned int size = 0;
    EVP_Digest(data, length, out, &size, EVP_md5(), nullptr);
    return out;
}

}  // extern "C"
