// The documents of a run over many files: the PDF files of an input directory,
// or the files named on standard input (-i -), each with its output in the
// output directory under the input's file name.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/worker_pool.h"

namespace cli {

// The longest path a list names: a longer line names no file.
constexpr std::size_t kLongestListedPath = 4095;

// Partial files and worker folders never hold ".pdf" in their names, so a
// directory run neither signs them nor takes them for outputs that exist.
bool is_pdf_name(const std::string &name);

// dir + "/" + name, without a second "/" when dir ends with one.
std::string join_path(const std::string &dir, const std::string &name);

// The PDF files of an open input directory, in the order the directory gives them.
std::vector<Document> directory_documents(DIR *in_dir, const std::string &input_dir, const std::string &output_dir);

// A listed path that is not signed, and why.
struct Refusal {
    std::string input;   // the path as listed (only its start when it is too long)
    std::string reason;
};

struct DocumentList {
    std::vector<Document> documents;  // in the order listed
    std::vector<Refusal> refusals;    // in the order listed
    int read_error = 0;               // errno of a failed read of the list; 0 when it was read to its end
};

// The documents a list names, one path a line; empty lines are skipped. A
// path is refused when it is longer than kLongestListedPath, holds a NUL byte,
// has a file name without ".pdf" or ".PDF", or has the file name of an earlier
// path (its output would be the same file).
DocumentList read_document_list(std::FILE *list, const std::string &output_dir);

}  // namespace cli
