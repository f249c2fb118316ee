// The signature placeholder through an encryption: hidden as a name of the
// same length in the prepared file, restored in the encrypted copy, and the
// /ByteRange rewritten there in the room reserved for it.
#include "core/hidden_placeholder.h"

#include <algorithm>
#include <string>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/text.h"
#include "core/document_rewrite.h"
#include "crypto/signing/byte_range.h"
#include "pdf/qpdf_api.h"
#include "pdf/signature_lookup.h"

namespace qs {
namespace {

// Room after the placeholder in which the rest of the signature dictionary
// must end; it holds a few short texts besides the placeholder.
constexpr long kDictionaryRoom = 64 * 1024;

bool write_at(std::FILE *file, long offset, const std::string &text) {
    if (std::fseek(file, offset, SEEK_SET) != 0 || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fflush(file) != 0) {
        report("Error writing the signature placeholder.");
        return false;
    }
    return true;
}

bool read_at(std::FILE *file, long offset, long length, std::string &text) {
    text.assign(static_cast<std::size_t>(length), '\0');
    if (std::fseek(file, offset, SEEK_SET) != 0 ||
        std::fread(text.data(), 1, text.size(), file) != text.size()) {
        report("Error reading the signature dictionary of the encrypted document.");
        return false;
    }
    return true;
}

long file_length(std::FILE *file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    return std::ftell(file);
}

std::string reserved_byte_range() {
    const std::string widest(static_cast<std::size_t>(kReservedRangeDigits), '9');
    return "/ByteRange [ 0 " + widest + " " + widest + " " + widest + " ]";
}

// Where the newest signature's dictionary starts in the encrypted copy, and
// where the next object (or the file) starts after it.
struct Span {
    long start = -1, end = -1;
};

bool find_signature_span(QPDF &pdf, long length, Span &span) {
    SignatureField field;
    if (find_signature_field(pdf, true, field) != SignatureSearch::Found) {
        report("No signature found!");
        return false;
    }
    const auto table = pdf.getXRefTable();
    const auto entry = table.find(QPDFObjGen(field.object_number, 0));
    if (entry == table.end() || entry->second.getType() != 1) {
        report("The signature dictionary of the encrypted document has no file offset of its own.");
        return false;
    }
    span.start = static_cast<long>(entry->second.getOffset());
    span.end = length;
    for (const auto &[object, where] : table) {
        const long offset = where.getType() == 1 ? static_cast<long>(where.getOffset()) : -1;
        if (offset > span.start && offset < span.end) span.end = offset;
    }
    return true;
}

bool signature_span(std::FILE *file, const char *password, long length, Span &span) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile("encrypted_file", file, false, password ? password : "");
        return find_signature_span(pdf, length, span);
    } catch (const QPDFExc &e) {
        report(std::string("The encrypted document cannot be read: ") + e.getMessageDetail());
    } catch (const std::exception &e) {
        report(std::string("The encrypted document cannot be read: ") + e.what());
    }
    return false;
}

}  // namespace

int hide_placeholder(std::FILE *prepared, Placeholder &where) {
    long range[4];
    if (qpdf_get_byte_range(prepared, "", range, nullptr) < 0) return -1;
    where.a = range[1];
    where.b = range[2];
    where.c = range[3];
    if (range[0] != 0 || check_placeholder(prepared, where.a, where.b, where.c) < 0) return -1;
    where.N = static_cast<int>(where.b - where.a - 2);
    return write_at(prepared, where.a, "/") && write_at(prepared, where.b - 1, "X") ? 0 : -1;
}

int restore_placeholder(std::FILE *encrypted, const char *password, int N, Placeholder &where) {
    const long length = file_length(encrypted);
    Span span;
    if (length < 0 || !signature_span(encrypted, password, length, span)) return -1;
    std::string text;
    if (!read_at(encrypted, span.start, std::min(span.end, span.start + N + kDictionaryRoom) - span.start, text))
        return -1;

    // The hidden name, "/" + N "0" + "X", is the value of /Contents.
    const std::string hidden = "/" + std::string(static_cast<std::size_t>(N), '0') + "X";
    const std::size_t contents = text.find("/Contents ");
    if (contents == std::string::npos || text.compare(contents + 10, hidden.size(), hidden) != 0) {
        report("The signature placeholder was not found in the encrypted document.");
        return -1;
    }
    where.N = N;
    where.a = span.start + static_cast<long>(contents) + 10;
    where.b = where.a + N + 2;
    where.c = length - where.b;

    // The reserved /ByteRange, written again with the copy's offsets at the same length.
    const std::string reserved = reserved_byte_range();
    const std::size_t range = text.find("/ByteRange");
    if (range == std::string::npos || text.compare(range, reserved.size(), reserved) != 0) {
        report("The reserved signature byte range was not found in the encrypted document.");
        return -1;
    }
    const std::string rewritten = byte_range_text(where.a, where.b, where.c, reserved.size());
    if (rewritten.empty()) {
        report("The signature byte range of the encrypted document does not fit the room reserved for it.");
        return -1;
    }
    if (!write_at(encrypted, where.a, "<") || !write_at(encrypted, where.b - 1, ">") ||
        !write_at(encrypted, span.start + static_cast<long>(range), rewritten))
        return -1;
    return 0;
}

std::string byte_range_text(long a, long b, long c, std::size_t width) {
    std::string text = "/ByteRange [ 0 " + decimal(a) + " " + decimal(b) + " " + decimal(c);
    if (text.size() + 1 > width) return "";
    text.append(width - text.size() - 1, ' ');
    return text + "]";
}

}  // namespace qs
