// The layout rules of one update, checked in the order a reader meets them:
// the trailer, the rows, the objects the rows name, the object streams, what
// qpdf made of it all, and last every keyword in the update's bytes.
#include "pdf/update_layout.h"

#include <climits>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include <qpdf/Buffer.hh>

#include "core/base/text.h"
#include "pdf/file_tail.h"
#include "pdf/keyword_scan.h"
#include "pdf/revision_reader.h"
#include "pdf/xref_section.h"

namespace qs {
namespace {

constexpr std::size_t kMaxRows = 1 << 20;

class LayoutProblem : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void problem(const std::string &what) { throw LayoutProblem(what); }

std::string at_offset(long long offset) { return "at offset " + decimal(offset); }

// The rows of the update by object number. A table's free row may give way to
// the in-use row of the stream its /XRefStm names, as such hybrid sections
// are written; any other number listed twice is read differently by readers
// that take the first row and readers that take the last.
std::map<int, XrefRow> rows_by_number(const XrefSection &section, const XrefSection *hybrid, long long size) {
    std::map<int, XrefRow> rows;
    auto take = [&](const XrefRow &row, bool from_hybrid) {
        if (row.number >= size)
            problem("its cross-reference section lists object " + decimal(row.number) + ", but its /Size is " +
                    decimal(size));
        auto [it, added] = rows.emplace(row.number, row);
        if (added) return;
        if (from_hybrid && it->second.type == XrefRowType::Free && row.type != XrefRowType::Free) {
            it->second = row;
            return;
        }
        problem("its cross-reference section lists object " + decimal(row.number) + " twice");
    };
    for (const XrefRow &row : section.rows) take(row, false);
    if (hybrid)
        for (const XrefRow &row : hybrid->rows) take(row, true);
    return rows;
}

class LayoutCheck {
public:
    LayoutCheck(std::FILE *file, const UpdatePlace &place, QPDF &before, QPDF &after)
        : file_(file), place_(place), before_(before), after_(after), source_(file_prefix_source(file, place.end)) {
        scratch_.setSuppressWarnings(true);
        scratch_.emptyPDF();
    }

    void run() {
        read_sections();
        const long long size = check_trailer(section_.trailer);
        rows_ = rows_by_number(section_, hybrid_ ? &*hybrid_ : nullptr, size);
        for (const auto &[number, row] : rows_) check_row(row);
        for (const auto &[number, row] : rows_) check_stream_row(row);
        for (const auto &[number, row] : rows_) check_generation(row);
        for (int stream : object_streams_) check_object_stream(stream);
        for (const auto &[number, row] : rows_) check_qpdf_agrees(row);
        check_highest_number(size);
        check_keywords();
    }

private:
    void read_sections() {
        try {
            section_ = read_xref_section(source_, place_.section, scratch_, kMaxRows);
            note_section(section_);
            long long stream_at = 0;
            if (!section_.stream && section_.trailer.hasKey("/XRefStm")) {
                if (!direct_integer(section_.trailer, "/XRefStm", stream_at) || !inside(stream_at))
                    problem("its /XRefStm names no place inside the update");
                hybrid_ = read_xref_section(source_, static_cast<long>(stream_at), scratch_, kMaxRows);
                if (!hybrid_->stream) problem("its /XRefStm names no cross-reference stream");
                note_section(*hybrid_);
            }
        } catch (const XrefSectionError &e) {
            problem(std::string("its cross-reference section cannot be read: ") + e.what());
        }
    }

    void note_section(const XrefSection &section) {
        if (!section.stream) {
            places_.sections.insert(section.keywords.begin(), section.keywords.end());
            return;
        }
        places_.objects.insert(section.header.keyword);
        data_.push_back(section.object.data);
        own_streams_.insert(section.header.start);
    }

    bool inside(long long offset) const { return offset >= place_.start && offset < place_.end; }

    // The trailer must chain to the section before and give a /Size readers accept; returns the /Size.
    long long check_trailer(QPDFObjectHandle trailer) {
        long long prev = -1;
        if (!direct_integer(trailer, "/Prev", prev) || prev != place_.previous_section)
            problem("its /Prev does not name the cross-reference section before it");
        long long size = 0;
        if (!direct_integer(trailer, "/Size", size) || size < 1 || size > kMaxObjectNumbers)
            problem("its /Size is not a number from 1 to " + decimal(kMaxObjectNumbers));
        return size;
    }

    // A row in use names an object header inside the update, of its own number and generation.
    void check_row(const XrefRow &row) {
        if (row.type == XrefRowType::Free) return;
        const std::string object = "object " + decimal(row.number);
        if (row.number == 0) problem("its cross-reference section puts object 0 in use");
        if (row.type == XrefRowType::InStream) return;
        if (!inside(row.place))
            problem("its cross-reference section places " + object + " " + at_offset(row.place) + ", outside the update");
        ObjectHeader header;
        if (!read_object_header(*source_, static_cast<long>(row.place), header) || header.number != row.number ||
            header.generation != row.generation)
            problem("its cross-reference section places " + object + " " + at_offset(row.place) + ", where no " +
                    object + " " + decimal(row.generation) + " begins");
        places_.objects.insert(header.keyword);
        if (own_streams_.count(header.start)) return;
        StoredObject stored;
        try {
            stored = read_stored_object(source_, header, scratch_);
        } catch (const XrefSectionError &e) {
            problem(e.what());
        }
        if (stored.data_known) data_.push_back(stored.data);
        QPDFObjectHandle type = stored.stream ? stored.value.getKey("/Type") : QPDFObjectHandle::newNull();
        if (type.isName() && type.getName() == "/ObjStm") object_streams_.insert(row.number);
    }

    // A row that places an object in an object stream names one the update writes.
    void check_stream_row(const XrefRow &row) {
        if (row.type == XrefRowType::InStream && object_streams_.count(static_cast<int>(row.place)) == 0)
            problem("its cross-reference section places object " + decimal(row.number) + " in object " +
                    decimal(row.place) + ", which is no object stream of the update");
    }

    // A redefinition keeps the generation the object has; a new object has generation 0.
    void check_generation(const XrefRow &row) {
        if (row.type == XrefRowType::Free) return;
        if (before_generations_.empty())
            for (const auto &[id, entry] : before_.getXRefTable()) before_generations_.emplace(id.getObj(), id.getGen());
        const int generation = row.type == XrefRowType::InFile ? row.generation : 0;
        auto [first, last] = before_generations_.equal_range(row.number);
        if (first == last) {
            if (generation != 0)
                problem("new object " + decimal(row.number) + " has generation " + decimal(generation));
            return;
        }
        for (auto it = first; it != last; ++it)
            if (it->second == generation) return;
        problem("object " + decimal(row.number) + " is written with generation " + decimal(generation) +
                ", but the revision before has it with generation " + decimal(first->second));
    }

    // An object stream holds each object once, in order, each where the rows place it.
    void check_object_stream(int number) {
        const std::string name = "object stream " + decimal(number);
        const XrefRow &own = rows_.at(number);
        QPDFObjectHandle stream = after_.getObjectByObjGen(QPDFObjGen(number, own.generation));
        std::string data;
        try {
            std::shared_ptr<Buffer> decoded = stream.getStreamData(qpdf_dl_generalized);
            data.assign(reinterpret_cast<const char *>(decoded->getBuffer()), decoded->getSize());
        } catch (const std::exception &) {
            problem(name + " cannot be decoded");
        }
        long long count = 0, first = 0;
        if (!direct_integer(stream.getDict(), "/N", count) || !direct_integer(stream.getDict(), "/First", first) ||
            count < 0 || first < 0 || first > static_cast<long long>(data.size()) ||
            count > static_cast<long long>(kMaxRows))
            problem(name + " has no direct /N and /First that fit its data");
        std::vector<int> members = object_stream_members(name, data, static_cast<std::size_t>(first),
                                                         static_cast<std::size_t>(count));
        std::set<int> seen;
        for (std::size_t index = 0; index < members.size(); ++index) {
            const int member = members[index];
            if (!seen.insert(member).second) problem(name + " holds object " + decimal(member) + " twice");
            auto row = rows_.find(member);
            if (row == rows_.end() || row->second.type != XrefRowType::InStream || row->second.place != number ||
                row->second.generation != static_cast<int>(index))
                problem(name + " holds object " + decimal(member) + ", which its cross-reference section does not "
                        "place there");
        }
        for (const auto &[member, row] : rows_)
            if (row.type == XrefRowType::InStream && row.place == number &&
                (static_cast<std::size_t>(row.generation) >= members.size() || members[row.generation] != member))
                problem("its cross-reference section places object " + decimal(member) + " in " + name +
                        ", which holds another object there");
    }

    // The "n offset" pairs before /First: numbers, offsets rising, each inside the data.
    std::vector<int> object_stream_members(const std::string &name, const std::string &data, std::size_t first,
                                           std::size_t count) {
        std::vector<int> members;
        std::size_t i = 0;
        long long previous = -1;
        auto number = [&](long long &value) {
            while (i < first && is_pdf_space(data[i])) ++i;
            const std::size_t begin = i;
            value = 0;
            while (i < first && data[i] >= '0' && data[i] <= '9' && i - begin < 10) value = value * 10 + (data[i++] - '0');
            return i > begin && (i == first || is_pdf_space(data[i]));
        };
        for (std::size_t n = 0; n < count; ++n) {
            long long member = 0, offset = 0;
            if (!number(member) || !number(offset) || member < 1 || member > INT_MAX)
                problem(name + " has a malformed list of its objects");
            if (offset <= previous || static_cast<long long>(first) + offset >= static_cast<long long>(data.size()))
                problem(name + " gives the offsets of its objects out of order or outside its data");
            previous = offset;
            members.push_back(static_cast<int>(member));
        }
        return members;
    }

    // qpdf, which the comparison relies on, found each listed object where the row places it.
    void check_qpdf_agrees(const XrefRow &row) {
        if (row.type == XrefRowType::Free) return;
        if (after_table_.empty()) after_table_ = after_.getXRefTable();
        const int generation = row.type == XrefRowType::InFile ? row.generation : 0;
        auto entry = after_table_.find(QPDFObjGen(row.number, generation));
        const bool agrees =
            entry != after_table_.end() &&
            (row.type == XrefRowType::InFile
                 ? entry->second.getType() == 1 && entry->second.getOffset() == row.place
                 : entry->second.getType() == 2 && entry->second.getObjStreamNumber() == row.place &&
                       entry->second.getObjStreamIndex() == row.generation);
        if (!agrees) problem("object " + decimal(row.number) + " is read elsewhere than its cross-reference section places it");
    }

    void check_highest_number(long long size) {
        if (after_table_.empty()) after_table_ = after_.getXRefTable();
        if (!after_table_.empty() && after_table_.rbegin()->first.getObj() >= size)
            problem("object " + decimal(after_table_.rbegin()->first.getObj()) + " is in use, but its /Size is " +
                    decimal(size));
    }

    void check_keywords() {
        const KeywordSighting found = first_unexpected_keyword(file_, {place_.start, place_.end}, data_, places_);
        if (found.offset >= 0)
            problem(std::string("it holds \"") + found.keyword + "\" " + at_offset(found.offset) +
                    " that its cross-reference section does not account for");
    }

    std::FILE *file_;
    UpdatePlace place_;
    QPDF &before_;
    QPDF &after_;
    std::shared_ptr<InputSource> source_;
    QPDF scratch_;
    XrefSection section_;
    std::optional<XrefSection> hybrid_;
    std::map<int, XrefRow> rows_;
    KeywordPlaces places_;
    std::vector<ByteSpan> data_;
    std::set<long> own_streams_;  // headers of the section's own streams
    std::set<int> object_streams_;
    std::multimap<int, int> before_generations_;
    std::map<QPDFObjGen, QPDFXRefEntry> after_table_;
};

}  // namespace

std::string update_layout_problem(std::FILE *file, const UpdatePlace &place, QPDF &before, QPDF &after) {
    try {
        LayoutCheck(file, place, before, after).run();
    } catch (const LayoutProblem &e) {
        return e.what();
    }
    return std::string();
}

}  // namespace qs
