// One pass over the update's bytes, read in blocks, with a few bytes of
// history: enough to tell a keyword from the bytes around it and to follow
// the shape "digits, space, digits, space, obj" through the data of a stream.
#include "pdf/keyword_scan.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "pdf/file_tail.h"
#include "pdf/revision_reader.h"

namespace qs {
namespace {

constexpr std::size_t kBlock = 256 * 1024;

bool is_regular(char c) { return !is_pdf_space(c) && !is_pdf_delimiter(c); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_line_end(char c) { return c == '\r' || c == '\n'; }

// Progress through "n g obj": digits, white space, digits, white space, "obj".
enum class HeaderShape { None, Number, Space, Generation, SpaceAfter, O, Ob, Obj };

HeaderShape next_shape(HeaderShape shape, char c) {
    using S = HeaderShape;
    if (is_digit(c)) {
        if (shape == S::Space || shape == S::Generation || shape == S::SpaceAfter) return S::Generation;
        return S::Number;
    }
    if (is_pdf_space(c)) {
        if (shape == S::Number || shape == S::Space) return S::Space;
        if (shape == S::Generation || shape == S::SpaceAfter) return S::SpaceAfter;
        return S::None;
    }
    if (c == 'o' && (shape == S::Generation || shape == S::SpaceAfter)) return S::O;
    if (c == 'b' && shape == S::O) return S::Ob;
    if (c == 'j' && shape == S::Ob) return S::Obj;
    return S::None;
}

class KeywordScanner {
public:
    KeywordScanner(long start, std::vector<ByteSpan> data, const KeywordPlaces &expected)
        : start_(start), data_(std::move(data)), expected_(expected), tainted_(data_.size(), false),
          pending_(data_.size()) {
        std::sort(data_.begin(), data_.end(), [](ByteSpan a, ByteSpan b) { return a.start < b.start; });
    }

    // Takes the byte at offset at; false once an unexpected keyword was met.
    bool feed(char c, long at) {
        look_back(at, !is_regular(c));
        if (found_.offset >= 0) return false;
        recent_[index(at)] = {c, line_blank_};
        watch_for_endstream(at);
        shape_ = next_shape(shape_, c);
        if (is_line_end(c))
            line_blank_ = true;
        else if (!is_pdf_space(c))
            line_blank_ = false;
        return found_.offset < 0;
    }

    KeywordSighting finish(long end) {
        if (found_.offset < 0) look_back(end, true);
        return found_;
    }

private:
    struct Byte {
        char c = 0;
        bool line_start = false;  // only white space before it on its line
    };

    static std::size_t index(long at) { return static_cast<std::size_t>(at) % kHistory; }
    char byte(long at) const { return recent_[index(at)].c; }

    bool ends_with(long end, std::string_view word) const {
        const long begin = end - static_cast<long>(word.size());
        if (begin < start_) return false;
        for (std::size_t i = 0; i < word.size(); ++i)
            if (byte(begin + static_cast<long>(i)) != word[i]) return false;
        return true;
    }

    // The stream data span that holds offset and may still be read leniently; -1 when none.
    long lenient_span(long offset) const {
        auto after = std::upper_bound(data_.begin(), data_.end(), offset,
                                      [](long at, ByteSpan span) { return at < span.start; });
        if (after == data_.begin()) return -1;
        const long span = static_cast<long>(after - data_.begin()) - 1;
        const ByteSpan &s = data_[static_cast<std::size_t>(span)];
        return offset < s.end && !tainted_[static_cast<std::size_t>(span)] ? span : -1;
    }

    // Keywords that end just before offset end, followed by a byte that ends a token when boundary.
    void look_back(long end, bool boundary) {
        if (!boundary) return;
        for (const char *keyword : {"obj", "xref", "trailer"}) {
            const std::string_view word(keyword);
            if (!ends_with(end, word)) continue;
            const long begin = end - static_cast<long>(word.size());
            const bool object = word == "obj";
            if (begin > start_) {
                const char before = byte(begin - 1);
                if (is_regular(before) && !(object && is_digit(before))) continue;
            }
            const bool laid_out = object ? shape_ == HeaderShape::Obj : recent_[index(begin)].line_start;
            const std::set<long> &places = object ? expected_.objects : expected_.sections;
            if (places.count(begin)) continue;
            const long span = lenient_span(begin);
            if (span < 0 || laid_out) {
                found_ = {begin, keyword};
                return;
            }
            KeywordSighting &pending = pending_[static_cast<std::size_t>(span)];
            if (pending.offset < 0) pending = {begin, keyword};
        }
    }

    // "endstream" inside stream data makes every keyword of those data count.
    void watch_for_endstream(long at) {
        if (!ends_with(at + 1, "endstream")) return;
        const long span = lenient_span(at - 8);
        if (span < 0 || at >= data_[static_cast<std::size_t>(span)].end) return;
        tainted_[static_cast<std::size_t>(span)] = true;
        if (pending_[static_cast<std::size_t>(span)].offset >= 0) found_ = pending_[static_cast<std::size_t>(span)];
    }

    static constexpr std::size_t kHistory = 16;
    long start_;
    std::vector<ByteSpan> data_;
    const KeywordPlaces &expected_;
    std::vector<bool> tainted_;
    std::vector<KeywordSighting> pending_;  // the first keyword let pass in each span
    std::array<Byte, kHistory> recent_{};
    bool line_blank_ = true;
    HeaderShape shape_ = HeaderShape::None;
    KeywordSighting found_;
};

}  // namespace

KeywordSighting first_unexpected_keyword(std::FILE *file, ByteSpan update, std::vector<ByteSpan> data,
                                         const KeywordPlaces &expected) {
    KeywordScanner scanner(update.start, std::move(data), expected);
    const std::shared_ptr<InputSource> source = file_prefix_source(file, update.end);
    std::vector<char> block(kBlock);
    for (long at = update.start; at < update.end;) {
        source->seek(at, SEEK_SET);
        const std::size_t want = static_cast<std::size_t>(std::min<long>(update.end - at, static_cast<long>(kBlock)));
        const std::size_t got = source->read(block.data(), want);
        if (got == 0) break;
        for (std::size_t i = 0; i < got; ++i)
            if (!scanner.feed(block[i], at + static_cast<long>(i))) return scanner.finish(update.end);
        at += static_cast<long>(got);
    }
    return scanner.finish(update.end);
}

}  // namespace qs
