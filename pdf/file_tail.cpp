// Finding the input's last "%%EOF" and the "startxref" line before it, which
// gives the offset of the previous cross-reference section.
#include "pdf/file_tail.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <quillseal/pdf.h>

#include "core/base/guard.h"

namespace {

constexpr long kBlock = 64 * 1024;
constexpr const char *kNoEof = "Document may be corrupted: last line of PDF is not %%%%EOF!";
constexpr const char *kNoStartxref = "Document may be corrupted: startxref line not found!";

// The line that starts at offset, or an empty text when there is none.
std::string line_at(FILE *input, long offset) {
    char line[256];
    if (offset < 0 || std::fseek(input, offset, SEEK_SET) != 0) return std::string();
    if (!lgets(line, sizeof line, input)) return std::string();
    return line;
}

// Length of the trailing "%%EOF" line counted from its first "%", or -1 when
// the file holds no "%%EOF" at all.
long eof_tail_length(FILE *input, long size) {
    const std::string six = line_at(input, size - 6);
    if (six == "%%EOF\n" || six == "%%EOF\r") return 6;
    if (line_at(input, size - 7) == "%%EOF\r\n") return 7;
    if (line_at(input, size - 5) == "%%EOF") return 5;
    const long found = qs::find_eof_from_end(input);
    if (found < 0 || found == size) return -1;
    return found;
}

// The offset written after the "startxref" keyword at s: the first number
// after it, whatever blanks and line ends stand between them (as every reader
// takes it). -1 when the keyword or the number is not there.
long startxref_value(FILE *input, long s) {
    char text[256];
    if (std::fseek(input, s, SEEK_SET) != 0) return -1;
    const std::size_t length = std::fread(text, 1, sizeof text, input);
    const std::size_t keyword = std::strlen("startxref");
    if (length <= keyword || std::memcmp(text, "startxref", keyword) != 0 || !qs::is_pdf_space(text[keyword]))
        return -1;
    std::size_t at = keyword;
    while (at < length && qs::is_pdf_space(text[at])) ++at;
    long value = -1;
    const auto parsed = std::from_chars(text + at, text + length, value);
    if (parsed.ec != std::errc() || parsed.ptr == text + at) return -1;
    return value;
}

// Offset of the nearest "s" at or before from, or -1 when the start is reached.
long find_s_backwards(FILE *input, long from) {
    std::vector<char> block(kBlock);
    long end = from + 1;  // one past the last byte to look at
    while (end > 0) {
        const long begin = end > kBlock ? end - kBlock : 0;
        const std::size_t want = static_cast<std::size_t>(end - begin);
        if (std::fseek(input, begin, SEEK_SET) != 0) return -1;
        if (std::fread(block.data(), 1, want, input) != want) return -1;
        for (long i = end - begin - 1; i >= 0; --i)
            if (block[static_cast<std::size_t>(i)] == 's') return begin + i;
        end = begin;
    }
    return -1;
}

}  // namespace

namespace qs {

bool read_file_tail(std::FILE *input, FileTail &tail) {
    if (!input || std::fseek(input, 0, SEEK_END) != 0) {
        report("The input PDF cannot be read.");
        return false;
    }
    tail.size = std::ftell(input);
    const long eof_length = eof_tail_length(input, tail.size);
    if (eof_length < 0) {
        report(kNoEof);
        return false;
    }
    const long from = tail.size - eof_length - 9;
    const long s = from >= 0 ? find_s_backwards(input, from) : -1;
    const long value = s >= 0 ? startxref_value(input, s) : -1;
    if (value < 0) {
        report(kNoStartxref);
        return false;
    }
    tail.startxref = s;
    tail.prev = value;
    std::rewind(input);
    return true;
}

}  // namespace qs

extern "C" {

QS_API long findEOFFromEnd(FILE *input) {
    return qs::guarded([&]() -> long { return qs::find_eof_from_end(input); });
}

QS_API int read_xref_offset(FILE *input, long *startxref, long *prev) {
    return qs::guarded([&]() -> int {
        qs::FileTail tail;
        if (!qs::read_file_tail(input, tail)) return -1;
        if (startxref) *startxref = tail.startxref;
        if (prev) *prev = tail.prev;
        return 0;
    });
}

}  // extern "C"

namespace qs {

long find_eof_from_end(std::FILE *input) {
    if (!input || std::fseek(input, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(input);
    static const char kMark[] = "%%EOF";
    constexpr long kMarkLength = 5;
    // Blocks are read from the end with an overlap of four bytes, so a mark
    // that straddles two blocks is still seen whole.
    std::vector<char> block(static_cast<std::size_t>(kBlock + kMarkLength));
    long end = size;
    while (end > 0) {
        const long begin = end > kBlock ? end - kBlock : 0;
        const long stop = end + kMarkLength - 1 < size ? end + kMarkLength - 1 : size;
        const std::size_t want = static_cast<std::size_t>(stop - begin);
        if (std::fseek(input, begin, SEEK_SET) != 0) return -1;
        if (std::fread(block.data(), 1, want, input) != want) return -1;
        for (long i = end - begin - 1; i >= 0; --i) {
            const long at = begin + i;
            if (at + kMarkLength <= size &&
                std::memcmp(block.data() + i, kMark, static_cast<std::size_t>(kMarkLength)) == 0)
                return size - at;
        }
        end = begin;
    }
    return size;
}

}  // namespace qs
