#include "support/support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace qstest {

std::string fixture(const std::string &name) { return std::string(QS_FIXTURES_DIR) + "/" + name; }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

TempDir::TempDir() {
    char templ[] = "/tmp/qstest-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() { std::system(("rm -rf " + shell_quote(path_)).c_str()); }

std::string shell_quote(const std::string &word) {
    std::string q = "'";
    for (char c : word) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

RunResult run_shell(const std::string &command) {
    RunResult r;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

RunResult run_cli(const std::vector<std::string> &args, const std::string &cwd) {
    std::string cmd;
    if (!cwd.empty()) cmd = "cd " + shell_quote(cwd) + " && ";
    cmd += shell_quote(QS_CLI_PATH);
    for (const auto &a : args) cmd += " " + shell_quote(a);
    cmd += " 2>/dev/null";
    return run_shell(cmd);
}

}  // namespace qstest
