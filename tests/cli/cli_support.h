// Helpers of the command-line tests: configurations, a stand-in java program.
#pragma once

#include <string>

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

}  // namespace clitest
