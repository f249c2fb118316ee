#include "cli/cli_support.h"

#include <sys/stat.h>

#include <quillseal/quillseal.h>

namespace clitest {

std::string write_config(const qstest::TempDir &dir, const std::string &store, const std::string &extra) {
    char stored[513];
    encrypt_password(qstest::kStorePassword, stored);
    const std::string path = dir.file("quillseal.conf");
    qstest::write_file(path, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + qstest::fixture(store) +
                                 "\ncertpasswd=" + stored + "\n" + extra);
    return path;
}

FakeJava::FakeJava(const qstest::TempDir &dir) : bin_(dir.file("bin")), log_(dir.file("java-args.log")) {
    mkdir(bin_.c_str(), 0755);
    const std::string java = bin_ + "/java";
    qstest::write_file(java, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                 qstest::shell_quote(log_) + "\nexit 3\n");
    chmod(java.c_str(), 0755);
}

std::string FakeJava::prefix() const { return "PATH=" + qstest::shell_quote(bin_) + ":\"$PATH\" "; }

}  // namespace clitest
