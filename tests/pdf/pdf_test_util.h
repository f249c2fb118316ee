// Small helpers of the PDF tests: streams over given bytes.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/support.h"

namespace pdftest {

struct FileCloser {
    void operator()(std::FILE *f) const { if (f) std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A stream opened "rb" on a temporary file holding data.
inline File stream_over(const qstest::TempDir &dir, const std::string &data,
                        const std::string &name = "data.bin") {
    qstest::write_file(dir.file(name), data);
    return File(std::fopen(dir.file(name).c_str(), "rb"));
}

inline File open_read(const std::string &path) { return File(std::fopen(path.c_str(), "rb")); }

}  // namespace pdftest

namespace pdftest {

using qstest::make_pdf;

}  // namespace pdftest
