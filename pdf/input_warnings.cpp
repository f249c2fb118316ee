#include "pdf/input_warnings.h"

#include <charconv>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace qs {

namespace {

// What qpdf names as a warning's object.
enum class Where {
    Nowhere,    // no object: the file as a whole
    XrefTable,  // "xref table"
    Object,     // "object n g", or "xref stream: object n g"
    Other,      // any other description; no warning there is accepted
};

struct Harmless {
    qpdf_error_code_e code;
    Where where;
    const char *message;  // the whole message, as a pattern
};

constexpr qpdf_error_code_e kDamaged = qpdf_e_damaged_pdf;

// Warnings that describe a blemish the update neither relies on nor repeats.
// Everything else refuses the document.
const Harmless kHarmless[] = {
    // A wrong trailer /Size: new objects are numbered above the highest number
    // in use, and the update writes a /Size of its own.
    {kDamaged, Where::Nowhere,
     R"(reported number of objects \(\d+\) is not one plus the highest object number \(\d+\))"},
    // startxref points at the line end just before "xref": the table is found
    // and read whole, and the update's /Prev repeats the input's value, which
    // readers already resolve.
    {kDamaged, Where::Nowhere, "extraneous whitespace seen before xref"},
    // A table entry with a wrong line end or spacing whose numbers were still
    // read. An object it misplaces is refused when the update reads it
    // ("expected n n obj"); the table itself stays as it is.
    {kDamaged, Where::XrefTable, "accepting invalid xref table entry"},
    // Line ends after "stream": the stream's data were found where they start.
    // The update never writes one of the input's streams again.
    {kDamaged, Where::Object, "stream keyword followed by carriage return only"},
    {kDamaged, Where::Object, "stream keyword followed by extraneous whitespace"},
    {kDamaged, Where::Object, "stream keyword not followed by proper line terminator"},
    // A bare "#" in a name, read as itself. The object keeps its bytes; one the
    // update writes again or relies on is refused.
    {kDamaged, Where::Object, "name with stray # will not work with PDF >= 1.2"},
    // A key given twice. The object keeps its bytes; one the update writes
    // again (which would drop a value) or relies on is refused.
    {kDamaged, Where::Object, R"(dictionary has duplicated key /\S*; last occurrence overrides earlier ones)"},
};

bool number(const std::ssub_match &digits, int &value) {
    const std::string text = digits.str();
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

Where where(const QPDFExc &warning, QPDFObjGen &object) {
    static const std::regex object_name(R"((?:xref stream: )?object (\d+) (\d+))");
    const std::string &name = warning.getObject();
    if (name.empty()) return Where::Nowhere;
    if (name == "xref table") return Where::XrefTable;
    std::smatch match;
    int id = 0, generation = 0;
    if (std::regex_match(name, match, object_name) && number(match[1], id) && number(match[2], generation)) {
        object = QPDFObjGen(id, generation);
        return Where::Object;
    }
    return Where::Other;
}

bool is_harmless(const QPDFExc &warning) {
    static const std::vector<std::regex> patterns = [] {
        std::vector<std::regex> compiled;
        for (const Harmless &row : kHarmless) compiled.emplace_back(row.message);
        return compiled;
    }();
    QPDFObjGen object;
    const Where at = where(warning, object);
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const Harmless &row = kHarmless[i];
        if (row.code == warning.getErrorCode() && row.where == at &&
            std::regex_match(warning.getMessageDetail(), patterns[i]))
            return true;
    }
    return false;
}

[[noreturn]] void refuse(const QPDFExc &warning) {
    throw std::runtime_error("The input PDF is damaged: " + warning.getMessageDetail());
}

}  // namespace

void InputWarnings::collect(QPDF &pdf) {
    for (QPDFExc &warning : pdf.getWarnings()) {
        if (!is_harmless(warning)) refuse(warning);
        kept_.push_back(std::move(warning));
    }
}

bool warning_object(const QPDFExc &warning, QPDFObjGen &object) { return where(warning, object) == Where::Object; }

void InputWarnings::refuse_about(const std::set<QPDFObjGen> &objects) const {
    for (const QPDFExc &warning : kept_) {
        QPDFObjGen object;
        if (where(warning, object) == Where::Object && objects.count(object)) refuse(warning);
    }
}

void read_input_strictly(QPDF &pdf, std::FILE *input, const char *password) {
    pdf.setSuppressWarnings(true);
    pdf.setAttemptRecovery(false);
    try {
        pdf.processFile("original_file", input, false, password ? password : "");
    } catch (const QPDFExc &e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw std::runtime_error("The input PDF is encrypted and cannot be opened with the given password.");
        throw std::runtime_error(std::string("The input PDF cannot be read: ") + e.getMessageDetail());
    }
}

}  // namespace qs
