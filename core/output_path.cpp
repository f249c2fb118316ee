#include "core/output_path.h"

#include <sys/stat.h>

#include "core/guard.h"
#include "core/text.h"

namespace qs {

bool same_file(const char *input, const char *output) {
    struct stat in {}, out {};
    if (!input || !output) return false;
    if (stat(input, &in) != 0 || stat(output, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int refuse_output_over_input(const char *input, const char *output) {
    if (!same_file(input, output)) return 0;
    report(format("Output file is the input file itself; choose another output path [File: %s]",
                  output));
    return -1;
}

int refuse_output_that_is_no_file(const char *output) {
    struct stat info {};
    if (!output || stat(output, &info) != 0 || S_ISREG(info.st_mode)) return 0;
    report(format("The output path names no regular file; choose another output path [File: %s]", output));
    return -1;
}

PendingOutput::~PendingOutput() {
    if (file_) std::fclose(file_);
    if (!kept_) std::remove(path_.c_str());
}

bool PendingOutput::keep() {
    std::FILE *file = file_;
    file_ = nullptr;
    kept_ = file && std::fclose(file) == 0;
    return kept_;
}

}  // namespace qs
