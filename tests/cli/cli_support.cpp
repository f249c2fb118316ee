#include "cli/cli_support.h"

#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <sstream>

#include <quillseal/quillseal.h>

namespace clitest {

std::string write_config(const qstest::TempDir &dir, const std::string &store, const std::string &extra) {
    return qstest::write_signing_config(dir, store, extra);
}

FakeJava::FakeJava(const qstest::TempDir &dir) : bin_(dir.file("bin")), log_(dir.file("java-args.log")) {
    mkdir(bin_.c_str(), 0755);
    const std::string java = bin_ + "/java";
    qstest::write_file(java, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                 qstest::shell_quote(log_) + "\nexit 3\n");
    chmod(java.c_str(), 0755);
}

std::string FakeJava::prefix() const { return "PATH=" + qstest::shell_quote(bin_) + ":\"$PATH\" "; }

BoundedRun run_bounded(const qstest::TempDir &dir, const std::vector<std::string> &args, const std::string &input) {
    const std::string err = dir.file("stderr.txt");
    std::string cmd =
        "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 "
        "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 timeout 60 " +
        qstest::shell_quote(QS_CLI_PATH);
    for (const auto &a : args) cmd += " " + qstest::shell_quote(a);
    cmd += " 2>" + qstest::shell_quote(err);
    if (!input.empty()) cmd += " <" + qstest::shell_quote(input);
    const qstest::RunResult r = qstest::run_shell(cmd);
    BoundedRun run;
    run.status = r.status;
    run.out = r.out;
    run.err = qstest::read_file(err);
    std::remove(err.c_str());
    return run;
}

std::vector<std::string> output_lines(const std::string &out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

namespace {

// The warnings of qpdf --check on a file, with the file's name left out.
std::set<std::string> qpdf_warnings(const std::string &path, int &status, std::string &out) {
    const qstest::RunResult check = qstest::run_shell("qpdf --check " + qstest::shell_quote(path) + " 2>&1");
    status = check.status;
    out = check.out;
    std::set<std::string> warnings;
    for (std::string line : output_lines(check.out)) {
        if (line.rfind("WARNING: ", 0) != 0) continue;
        for (std::size_t at; (at = line.find(path)) != std::string::npos;) line.replace(at, path.size(), "FILE");
        warnings.insert(line);
    }
    return warnings;
}

}  // namespace

std::string check_signed_output(const std::string &path, const std::string &input) {
    const std::string quoted = qstest::shell_quote(path);
    const qstest::RunResult sig = qstest::run_shell("pdfsig " + quoted + " 2>&1");
    if (sig.out.find("Signature is Valid") == std::string::npos ||
        sig.out.find("Total document signed") == std::string::npos)
        return "pdfsig: " + sig.out;
    int status = 0, input_status = 0;
    std::string out, input_out;
    const std::set<std::string> warnings = qpdf_warnings(path, status, out);
    if (status == 0) return "";
    if (input.empty() || status != 3) return "qpdf --check: " + out;  // 3: warnings only
    const std::set<std::string> known = qpdf_warnings(input, input_status, input_out);
    for (const std::string &warning : warnings)
        if (!known.count(warning)) return "qpdf --check, new warning: " + warning;
    return "";
}

}  // namespace clitest
