// Helpers of the command-line tests: configurations, a stand-in java program.
#pragma once

#include <string>
#include <vector>

#include "support/support.h"

namespace clitest {

// A key=value configuration for a PKCS#12 key store of the fixtures, password stored encrypted.
std::string write_config(const qstest::TempDir &dir, const std::string &store = "signer.p12",
                         const std::string &extra = "");

// Puts a "java" program first on the PATH of commands run through qstest::run_shell with
// prefix(); it writes each argument it receives on a line of its own into log().
class FakeJava {
public:
    explicit FakeJava(const qstest::TempDir &dir);
    std::string prefix() const;  // "PATH=...:$PATH " for a command line
    std::string log() const { return log_; }

private:
    std::string bin_, log_;
};

// One run of the program under a time bound, with sanitizer reports made fatal
// (an instrumented build then ends with a signal instead of its own status).
struct BoundedRun {
    int status = -1;   // exit status; 124 after the time bound, -1 after a signal
    std::string out;   // standard output
    std::string err;   // standard error
};
// With an input file named, the program reads it as its standard input.
BoundedRun run_bounded(const qstest::TempDir &dir, const std::vector<std::string> &args,
                       const std::string &input = "");

// The lines of a program's output.
std::vector<std::string> output_lines(const std::string &out);

// Checks a signed document with tools of others: pdfsig must call the
// signature valid over the total document, and qpdf --check must pass. With
// the input named, qpdf --check may repeat the warnings it gives on the input,
// but no other. Returns an empty text, or what failed.
std::string check_signed_output(const std::string &path, const std::string &input = "");

}  // namespace clitest
