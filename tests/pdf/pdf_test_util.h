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

// A classic PDF whose object i+1 has body objects[i]; the trailer gets /Size,
// /Root 1 0 R and the extra text.
inline std::string make_pdf(const std::vector<std::string> &objects, const std::string &trailer_extra = "") {
    std::string pdf = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";
    std::vector<long> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(static_cast<long>(pdf.size()));
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const long xref = static_cast<long>(pdf.size());
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f\r\n";
    for (long offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010ld 00000 n\r\n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " + trailer_extra +
           " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

}  // namespace pdftest
