// Earlier states of an incrementally updated document: qpdf reads a prefix of
// the open file through an input source of its own, and the ends of the
// updates are found by their "startxref ... %%EOF" tails.
#include "pdf/revision_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

#include "pdf/file_tail.h"

namespace qs {
namespace {

constexpr std::size_t kSourceBlock = 64 * 1024;
constexpr long kScanBlock = 256 * 1024;
constexpr long kMarkLength = 5;  // "%%EOF"
// How far before an "%%EOF" its "startxref" line may begin.
constexpr long kTailWindow = 64;
// How far from the end of a revision readers look for its last "%%EOF".
constexpr long kLastMarkWindow = 1024;

// Reads up to length bytes at offset with pread, so that several readers of
// one file never disturb each other's position. Returns the count read.
std::size_t read_at(int fd, char *out, std::size_t length, long offset) {
    std::size_t done = 0;
    while (done < length) {
        const off_t at = static_cast<off_t>(offset) + static_cast<off_t>(done);
        const ssize_t got = ::pread(fd, out + done, length - done, at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw std::runtime_error(std::string("the document cannot be read: ") + std::strerror(errno));
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// The first length bytes of a file as a qpdf input, read in blocks.
class FilePrefixSource : public InputSource {
public:
    FilePrefixSource(int fd, qpdf_offset_t length) : fd_(fd), length_(length), block_(kSourceBlock) {}

    qpdf_offset_t findAndSkipNextEOL() override {
        char ch;
        while (read(&ch, 1) == 1) {
            if (ch != '\r' && ch != '\n') continue;
            const qpdf_offset_t eol = pos_ - 1;
            while (read(&ch, 1) == 1) {
                if (ch != '\r' && ch != '\n') {
                    unreadCh(ch);
                    break;
                }
            }
            return eol;
        }
        return pos_;
    }
    std::string const &getName() const override { return name_; }
    qpdf_offset_t tell() override { return pos_; }
    void seek(qpdf_offset_t offset, int whence) override {
        const qpdf_offset_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? pos_ : length_;
        if (offset < -base) throw std::runtime_error("a seek before the start of the document");
        // Offsets come from the file; one so large that the sum would overflow is refused.
        if (offset > std::numeric_limits<qpdf_offset_t>::max() - base)
            throw std::runtime_error("a seek past the end of the document");
        pos_ = base + offset;
    }
    void rewind() override { pos_ = 0; }
    size_t read(char *buffer, size_t length) override {
        last_offset = pos_;
        std::size_t done = 0;
        while (done < length && pos_ < length_) {
            if (pos_ < block_start_ || pos_ >= block_start_ + static_cast<qpdf_offset_t>(block_fill_)) {
                if (!load(pos_)) break;
            }
            const std::size_t at = static_cast<std::size_t>(pos_ - block_start_);
            const std::size_t n = std::min(length - done, block_fill_ - at);
            std::memcpy(buffer + done, block_.data() + at, n);
            done += n;
            pos_ += static_cast<qpdf_offset_t>(n);
        }
        return done;
    }
    void unreadCh(char) override {
        if (pos_ > 0) --pos_;
    }

private:
    bool load(qpdf_offset_t at) {
        const std::size_t want = static_cast<std::size_t>(std::min<qpdf_offset_t>(length_ - at, kSourceBlock));
        block_start_ = at;
        block_fill_ = read_at(fd_, block_.data(), want, static_cast<long>(at));
        return block_fill_ > 0;
    }

    int fd_;
    qpdf_offset_t length_;
    std::string name_ = "signed document";
    qpdf_offset_t pos_ = 0;
    std::vector<char> block_;
    qpdf_offset_t block_start_ = 0;
    std::size_t block_fill_ = 0;
};

// The offset named by a "startxref" line that ends right before the "%%EOF"
// at mark, or -1 when the text there is no such line.
long startxref_before(int fd, long mark) {
    const long begin = std::max(0L, mark - kTailWindow);
    std::string text(static_cast<std::size_t>(mark - begin), '\0');
    text.resize(read_at(fd, text.data(), text.size(), begin));
    std::size_t i = text.size();
    while (i > 0 && is_pdf_space(text[i - 1])) --i;
    const std::size_t digits_end = i;
    while (i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9') --i;
    const std::size_t digits = digits_end - i;
    if (digits == 0 || digits > 18) return -1;
    const std::string number = text.substr(i, digits);
    std::size_t spaces = 0;
    while (i > 0 && is_pdf_space(text[i - 1])) --i, ++spaces;
    static const std::string kKeyword = "startxref";
    if (spaces == 0 || i < kKeyword.size() || text.compare(i - kKeyword.size(), kKeyword.size(), kKeyword) != 0)
        return -1;
    return std::stol(number);
}

// Just past the "%%EOF" at mark and the one line end that follows it.
long line_end_after(int fd, long mark, long size) {
    long end = mark + kMarkLength;
    char next[2] = {0, 0};
    const std::size_t got = read_at(fd, next, static_cast<std::size_t>(std::min(2L, size - end)), end);
    if (got > 0 && next[0] == '\r') {
        ++end;
        if (got > 1 && next[1] == '\n') ++end;
    } else if (got > 0 && next[0] == '\n') {
        ++end;
    }
    return end;
}

}  // namespace

std::unique_ptr<QPDF> open_revision(std::FILE *file, long length, bool attempt_recovery) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(attempt_recovery);
    pdf->processInputSource(file_prefix_source(file, length), "");
    return pdf;
}

std::shared_ptr<InputSource> file_prefix_source(std::FILE *file, long length) {
    return std::make_shared<FilePrefixSource>(fileno(file), length);
}

std::vector<RevisionEnd> later_revision_ends(std::FILE *file, long from, long size, std::size_t limit) {
    const int fd = fileno(file);
    std::vector<RevisionEnd> ends;
    std::vector<char> block(static_cast<std::size_t>(kScanBlock + kMarkLength - 1));
    long previous = from;
    // Blocks overlap by four bytes, so a mark across a seam is seen whole, and
    // only once: a mark is looked at in the block where it begins.
    for (long start = from; start < size && ends.size() <= limit; start += kScanBlock) {
        const long stop = std::min(size, start + kScanBlock + kMarkLength - 1);
        const std::size_t got = read_at(fd, block.data(), static_cast<std::size_t>(stop - start), start);
        for (std::size_t i = 0; i + kMarkLength <= got && i < static_cast<std::size_t>(kScanBlock); ++i) {
            if (std::memcmp(block.data() + i, "%%EOF", kMarkLength) != 0) continue;
            const long mark = start + static_cast<long>(i);
            const long xref = mark >= previous ? startxref_before(fd, mark) : -1;
            if (xref < previous || xref >= mark) continue;
            previous = line_end_after(fd, mark, size);
            ends.push_back({mark + kMarkLength, previous, xref});
            if (ends.size() > limit) break;
        }
    }
    return ends;
}

long revision_startxref(std::FILE *file, long end) {
    const int fd = fileno(file);
    const long begin = std::max(0L, end - kLastMarkWindow);
    std::string text(static_cast<std::size_t>(end - begin), '\0');
    text.resize(read_at(fd, text.data(), text.size(), begin));
    const std::size_t mark = text.rfind("%%EOF");
    if (mark == std::string::npos) return -1;
    for (std::size_t i = mark + kMarkLength; i < text.size(); ++i)
        if (!is_pdf_space(text[i])) return -1;
    return startxref_before(fd, begin + static_cast<long>(mark));
}

bool holds_document_parts(std::FILE *file, long from, long size) {
    static const char *const kKeywords[] = {"obj", "xref", "trailer"};
    constexpr long kOverlap = 6;  // one less than the longest keyword
    const int fd = fileno(file);
    std::vector<char> block(static_cast<std::size_t>(kScanBlock + kOverlap));
    for (long start = from; start < size; start += kScanBlock) {
        const long stop = std::min(size, start + kScanBlock + kOverlap);
        const std::size_t got = read_at(fd, block.data(), static_cast<std::size_t>(stop - start), start);
        const std::string_view text(block.data(), got);
        for (const char *keyword : kKeywords)
            if (text.find(keyword) != std::string_view::npos) return true;
    }
    return false;
}

}  // namespace qs
