#include "cli/documents.h"

#include <cerrno>
#include <unordered_set>

namespace cli {
namespace {

std::string file_name(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct ListLine {
    std::string text;  // without its line end; only the start of a line that is too long
    bool too_long = false;
};

// The next line of the list; false at its end (or at a read error).
bool read_line(std::FILE *list, ListLine &line) {
    line.text.clear();
    line.too_long = false;
    bool any = false;
    for (int ch; (ch = std::getc(list)) != EOF;) {
        any = true;
        if (ch == '\n') return true;
        if (line.text.size() < kLongestListedPath)
            line.text += static_cast<char>(ch);
        else
            line.too_long = true;
    }
    return any;
}

// Why a listed path is not signed; empty when it is.
std::string refusal_reason(const ListLine &line, const std::string &name,
                           const std::unordered_set<std::string> &names_taken, const std::string &output_dir) {
    if (line.too_long)
        return "The listed path is longer than " + std::to_string(kLongestListedPath) + " bytes, so it names no file";
    if (line.text.find('\0') != std::string::npos) return "The listed path holds a NUL byte, so it names no file";
    if (!is_pdf_name(name))
        return "The file name holds neither \".pdf\" nor \".PDF\"; only PDF files are signed into the output directory";
    if (names_taken.count(name))
        return "An earlier listed file has the same name, and both would be signed into " +
               join_path(output_dir, name) + "; this one is left unsigned";
    return "";
}

// The path as a refusal names it: its start when it is too long, NUL bytes shown as "\0".
std::string as_named(const ListLine &line) {
    std::string shown;
    for (char ch : line.too_long ? line.text.substr(0, 255) : line.text)
        shown += ch == '\0' ? std::string("\\0") : std::string(1, ch);
    return line.too_long ? shown + "..." : shown;
}

}  // namespace

bool is_pdf_name(const std::string &name) {
    return name.find(".pdf") != std::string::npos || name.find(".PDF") != std::string::npos;
}

std::string join_path(const std::string &dir, const std::string &name) {
    return (!dir.empty() && dir.back() == '/') ? dir + name : dir + "/" + name;
}

std::vector<Document> directory_documents(DIR *in_dir, const std::string &input_dir, const std::string &output_dir) {
    std::vector<Document> documents;
    while (const dirent *entry = readdir(in_dir))
        if (is_pdf_name(entry->d_name))
            documents.push_back({join_path(input_dir, entry->d_name), join_path(output_dir, entry->d_name)});
    return documents;
}

DocumentList read_document_list(std::FILE *list, const std::string &output_dir) {
    DocumentList result;
    std::unordered_set<std::string> names_taken;
    ListLine line;
    errno = 0;
    while (read_line(list, line)) {
        if (line.text.empty() && !line.too_long) continue;
        const std::string name = file_name(line.text);
        const std::string reason = refusal_reason(line, name, names_taken, output_dir);
        if (!reason.empty()) {
            result.refusals.push_back({as_named(line), reason});
            continue;
        }
        names_taken.insert(name);
        result.documents.push_back({line.text, join_path(output_dir, name)});
    }
    if (std::ferror(list)) result.read_error = errno != 0 ? errno : EIO;
    return result;
}

}  // namespace cli
