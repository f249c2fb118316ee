// Reading one cross-reference section strictly: a table's rows are the 20
// bytes the format fixes, a stream's rows are decoded with qpdf's filters and
// must fill its data exactly.
#include "pdf/xref_section.h"

#include <climits>
#include <string>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFTokenizer.hh>

#include "core/base/text.h"
#include "pdf/file_tail.h"

namespace qs {
namespace {

constexpr std::size_t kHeaderWindow = 64;  // a header longer than this is not taken for one
constexpr std::size_t kRowLength = 20;
constexpr std::size_t kRowsPerRead = 4096;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void fail(const std::string &what) { throw XrefSectionError(what); }

std::string read_at(InputSource &source, long offset, std::size_t length) {
    std::string bytes(length, '\0');
    source.seek(offset, SEEK_SET);
    bytes.resize(source.read(bytes.data(), length));
    return bytes;
}

// The decimal number at text[i], at most digits long; i moves past it.
bool read_number(const std::string &text, std::size_t &i, std::size_t digits, long long &value) {
    const std::size_t begin = i;
    value = 0;
    while (i < text.size() && is_digit(text[i]) && i - begin < digits) value = value * 10 + (text[i++] - '0');
    return i > begin && (i == text.size() || !is_digit(text[i]));
}

std::size_t skip_spaces(const std::string &text, std::size_t i) {
    while (i < text.size() && is_pdf_space(text[i])) ++i;
    return i;
}

QPDFObjectHandle parse_at(const std::shared_ptr<InputSource> &source, long offset, QPDF &scratch,
                          const std::string &what) {
    source->seek(offset, SEEK_SET);
    QPDFTokenizer tokenizer;
    bool empty = false;
    QPDFObjectHandle value;
    try {
        value = QPDFObjectHandle::parse(source, what, tokenizer, empty, nullptr, &scratch);
    } catch (const QPDFExc &e) {
        fail(what + " cannot be parsed: " + e.getMessageDetail());
    } catch (const std::exception &e) {
        fail(what + " cannot be parsed: " + e.what());
    }
    if (empty) fail(what + " is empty");
    return value;
}

// True when "endstream" follows offset, after at most one line end.
bool endstream_at(InputSource &source, long offset) {
    const std::string text = read_at(source, offset, 12);
    std::size_t i = 0;
    if (text.compare(0, 2, "\r\n") == 0)
        i = 2;
    else if (!text.empty() && (text[0] == '\n' || text[0] == '\r'))
        i = 1;
    if (text.compare(i, 9, "endstream") != 0) return false;
    return i + 9 == text.size() || is_pdf_space(text[i + 9]) || is_pdf_delimiter(text[i + 9]);
}

// The rows of a table subsection: count rows of 20 bytes each from offset.
void read_table_rows(InputSource &source, long offset, long long first, long long count,
                     std::vector<XrefRow> &rows) {
    for (long long done = 0; done < count;) {
        const long long batch = std::min<long long>(count - done, kRowsPerRead);
        const std::string text =
            read_at(source, offset + static_cast<long>(done * kRowLength), static_cast<std::size_t>(batch) * kRowLength);
        if (text.size() != static_cast<std::size_t>(batch) * kRowLength) fail("its table ends within a row");
        for (long long r = 0; r < batch; ++r) {
            const std::string row = text.substr(static_cast<std::size_t>(r) * kRowLength, kRowLength);
            std::size_t i = 0;
            long long place = 0, generation = 0;
            const bool shaped = read_number(row, i, 10, place) && i == 10 && row[10] == ' ' &&
                                read_number(row, ++i, 5, generation) && i == 16 && row[16] == ' ' &&
                                (row[17] == 'n' || row[17] == 'f') &&
                                (row.compare(18, 2, "\r\n") == 0 || row.compare(18, 2, " \n") == 0 ||
                                 row.compare(18, 2, " \r") == 0);
            const long long number = first + done + r;
            if (!shaped) fail("its table row for object " + decimal(number) + " is not 20 bytes of the fixed form");
            if (generation > 65535) fail("its table gives object " + decimal(number) + " generation " + decimal(generation));
            rows.push_back({static_cast<int>(number), row[17] == 'n' ? XrefRowType::InFile : XrefRowType::Free, place,
                            static_cast<int>(generation)});
        }
        done += batch;
    }
}

XrefSection read_table(const std::shared_ptr<InputSource> &source, long offset, QPDF &scratch,
                       std::size_t max_rows) {
    XrefSection section;
    section.keywords.push_back(offset);
    long at = offset + 4;
    for (;;) {
        const std::string line = read_at(*source, at, 64);
        std::size_t i = skip_spaces(line, 0);
        if (i == 0 && at == offset + 4) fail("its \"xref\" keyword runs on");
        if (line.compare(i, 7, "trailer") == 0) {
            section.keywords.push_back(at + static_cast<long>(i));
            section.trailer = parse_at(source, at + static_cast<long>(i) + 7, scratch, "its trailer");
            if (!section.trailer.isDictionary()) fail("its trailer is not a dictionary");
            return section;
        }
        long long first = 0, count = 0;
        const bool numbers = read_number(line, i, 10, first) && i < line.size() && (line[i] == ' ' || line[i] == '\t');
        i = skip_spaces(line, i);
        if (!numbers || !read_number(line, i, 10, count)) fail("its table has a malformed subsection header");
        const std::size_t line_end = skip_spaces(line, i);
        if (line_end == i || line_end == line.size()) fail("its table has a malformed subsection header");
        if (first + count > INT_MAX) fail("its table lists objects beyond any reader's range");
        if (section.rows.size() + static_cast<std::size_t>(count) > max_rows) fail("its table has too many rows");
        const long rows_at = at + static_cast<long>(line_end);
        read_table_rows(*source, rows_at, first, count, section.rows);
        at = rows_at + static_cast<long>(count * static_cast<long long>(kRowLength));
    }
}

// The field of width bytes at data, big-endian; one too large for a long long
// comes out as the largest, which no row may hold anyway.
long long field(const unsigned char *data, long long width) {
    unsigned long long value = 0;
    for (long long i = 0; i < width; ++i) value = (value << 8) | data[i];
    return value > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(value);
}

std::vector<long long> integers(QPDFObjectHandle array, const char *what) {
    std::vector<long long> values;
    if (!array.isArray() || array.isIndirect()) fail(std::string("its ") + what + " is not a direct array");
    for (QPDFObjectHandle item : array.aitems()) {
        if (!item.isInteger() || item.isIndirect() || item.getIntValue() < 0)
            fail(std::string("its ") + what + " holds something else than numbers");
        values.push_back(item.getIntValue());
    }
    return values;
}

std::string decoded_data(const std::shared_ptr<InputSource> &source, const StoredObject &object, QPDF &scratch) {
    const std::string raw = read_at(*source, object.data.start, static_cast<std::size_t>(object.data.end - object.data.start));
    QPDFObjectHandle copy = QPDFObjectHandle::newStream(&scratch, raw);
    QPDFObjectHandle dictionary = object.value;
    copy.replaceDict(dictionary.shallowCopy());
    std::shared_ptr<Buffer> decoded;
    scratch.getWarnings();  // those of parsing belong to the object, not to its data
    try {
        decoded = copy.getStreamData(qpdf_dl_generalized);
    } catch (const std::exception &e) {
        fail(std::string("its stream data cannot be decoded: ") + e.what());
    }
    if (!scratch.getWarnings().empty()) fail("its stream data cannot be decoded cleanly");
    return std::string(reinterpret_cast<const char *>(decoded->getBuffer()), decoded->getSize());
}

XrefSection read_stream(const std::shared_ptr<InputSource> &source, long offset, QPDF &scratch,
                        std::size_t max_rows) {
    XrefSection section;
    section.stream = true;
    if (!read_object_header(*source, offset, section.header)) fail("no table or stream begins where it is named");
    section.object = read_stored_object(source, section.header, scratch);
    QPDFObjectHandle dictionary = section.object.value;
    QPDFObjectHandle type = dictionary.isDictionary() ? dictionary.getKey("/Type") : QPDFObjectHandle::newNull();
    if (!section.object.stream || !type.isName() || type.getName() != "/XRef") fail("its stream is no cross-reference stream");
    if (!section.object.data_known) fail("its stream data have no definite length");
    section.trailer = dictionary;
    long long size = 0;
    if (!direct_integer(dictionary, "/Size", size) || size < 0) fail("its stream has no direct /Size");
    const std::vector<long long> widths = integers(dictionary.getKey("/W"), "/W");
    if (widths.size() != 3 || widths[0] > 1 || widths[1] > 8 || widths[2] > 4 || widths[1] == 0)
        fail("its /W is not three widths of the sizes readers accept");
    std::vector<long long> index = {0, size};
    if (dictionary.hasKey("/Index")) index = integers(dictionary.getKey("/Index"), "/Index");
    if (index.size() % 2 != 0) fail("its /Index is not pairs of numbers");
    const long long entry = widths[0] + widths[1] + widths[2];
    long long total = 0;
    for (std::size_t i = 0; i < index.size(); i += 2) {
        if (index[i] > INT_MAX || index[i + 1] > INT_MAX - index[i])
            fail("its /Index names objects beyond any reader's range");
        total += index[i + 1];
        if (static_cast<unsigned long long>(total) > max_rows) fail("its stream has too many rows");
    }
    const std::string data = decoded_data(source, section.object, scratch);
    if (static_cast<long long>(data.size()) != total * entry)
        fail("its stream holds " + decimal(static_cast<long long>(data.size())) + " bytes for " + decimal(total) +
             " rows of " + decimal(entry));
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.data());
    for (std::size_t i = 0; i < index.size(); i += 2) {
        for (long long n = 0; n < index[i + 1]; ++n, bytes += entry) {
            const long long kind = widths[0] == 0 ? 1 : field(bytes, widths[0]);
            const long long two = field(bytes + widths[0], widths[1]);
            const long long three = field(bytes + widths[0] + widths[1], widths[2]);
            const int number = static_cast<int>(index[i] + n);
            if (kind > 2) fail("its row for object " + decimal(number) + " has type " + decimal(kind));
            if (three > 65535) fail("its row for object " + decimal(number) + " has a third field above 65535");
            const XrefRowType row_type = kind == 0 ? XrefRowType::Free : kind == 1 ? XrefRowType::InFile
                                                                                   : XrefRowType::InStream;
            section.rows.push_back({number, row_type, two, static_cast<int>(three)});
        }
    }
    return section;
}

}  // namespace

bool direct_integer(QPDFObjectHandle dictionary, const char *key, long long &value) {
    if (!dictionary.isDictionary()) return false;
    QPDFObjectHandle item = dictionary.getKey(key);
    if (item.isIndirect() || !item.isInteger()) return false;
    value = item.getIntValue();
    return true;
}

bool read_object_header(InputSource &source, long offset, ObjectHeader &header) {
    if (offset < 0) return false;
    const std::string text = read_at(source, offset, kHeaderWindow);
    std::size_t i = 0;
    long long number = 0, generation = 0;
    if (!read_number(text, i, 10, number) || i == text.size() || !is_pdf_space(text[i])) return false;
    i = skip_spaces(text, i);
    if (!read_number(text, i, 5, generation)) return false;
    i = skip_spaces(text, i);
    if (text.compare(i, 3, "obj") != 0) return false;
    const std::size_t after = i + 3;
    if (after < text.size() && !is_pdf_space(text[after]) && !is_pdf_delimiter(text[after])) return false;
    if (number > INT_MAX || generation > 65535) return false;
    header.number = static_cast<int>(number);
    header.generation = static_cast<int>(generation);
    header.start = offset;
    header.keyword = offset + static_cast<long>(i);
    return true;
}

StoredObject read_stored_object(const std::shared_ptr<InputSource> &source, const ObjectHeader &header,
                                QPDF &scratch) {
    const std::string what = "object " + decimal(header.number) + " " + decimal(header.generation);
    StoredObject object;
    object.value = parse_at(source, header.keyword + 3, scratch, what);
    if (!object.value.isDictionary()) return object;
    QPDFTokenizer tokenizer;
    const QPDFTokenizer::Token next = tokenizer.readToken(source, what, true);
    if (!next.isWord("stream")) return object;
    object.stream = true;
    const long keyword_end = static_cast<long>(source->tell());
    const std::string line = read_at(*source, keyword_end, 2);
    long start = -1;
    if (line == "\r\n")
        start = keyword_end + 2;
    else if (!line.empty() && line[0] == '\n')
        start = keyword_end + 1;
    long long length = 0;
    if (start < 0 || !direct_integer(object.value, "/Length", length) || length < 0 ||
        length > static_cast<long long>(LONG_MAX) - start)
        return object;
    object.data = {start, start + static_cast<long>(length)};
    object.data_known = endstream_at(*source, object.data.end);
    return object;
}

XrefSection read_xref_section(const std::shared_ptr<InputSource> &source, long offset, QPDF &scratch,
                              std::size_t max_rows) {
    if (read_at(*source, offset, 4) == "xref") return read_table(source, offset, scratch, max_rows);
    return read_stream(source, offset, scratch, max_rows);
}

}  // namespace qs
