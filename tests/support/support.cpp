#include "support/support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include <zlib.h>

#include <quillseal/quillseal.h>

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

std::string make_pdf(const std::vector<std::string> &objects, const std::string &trailer_extra) {
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

std::string write_signing_config(const TempDir &dir, const std::string &store, const std::string &extra,
                                 const std::string &name) {
    char stored[600];
    encrypt_password(kStorePassword, stored);
    const std::string path = dir.file(name);
    write_file(path, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + fixture(store) + "\ncertpasswd=" + stored +
                         "\n" + extra);
    return path;
}

namespace {

std::string big_endian(unsigned long value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    return out;
}

}  // namespace

std::string png_chunk(const std::string &type, const std::string &data) {
    const std::string body = type + data;
    const unsigned long crc = crc32(0L, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    return big_endian(data.size()) + body + big_endian(crc);
}

std::string make_png(unsigned width, unsigned height, int colour_type, int bit_depth, const std::string &rows,
                     const std::string &chunks) {
    std::string filtered;
    const std::size_t row = height ? rows.size() / height : 0;
    for (unsigned r = 0; r < height; ++r) filtered += '\0' + rows.substr(r * row, row);
    uLongf packed_size = compressBound(static_cast<uLong>(filtered.size()));
    std::string packed(packed_size, '\0');
    compress(reinterpret_cast<Bytef *>(&packed[0]), &packed_size, reinterpret_cast<const Bytef *>(filtered.data()),
             static_cast<uLong>(filtered.size()));
    packed.resize(packed_size);
    std::string header = big_endian(width) + big_endian(height);
    header += static_cast<char>(bit_depth);
    header += static_cast<char>(colour_type);
    header += std::string(3, '\0');
    return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) + chunks + png_chunk("IDAT", packed) +
           png_chunk("IEND", "");
}

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

std::string make_form(const TempDir &dir, const std::string &name, const std::string &lock) {
    const std::string out = dir.file(name);
    const RunResult made = run_shell("/usr/bin/python3 " + shell_quote(std::string(QS_SOURCE_DIR) + "/tests/support/forms.py") +
                                     " template " + shell_quote(fixture("ten-pages.pdf")) + " " + shell_quote(out) +
                                     (lock.empty() ? "" : " " + shell_quote(lock)) + " 2>&1");
    if (made.status != 0) throw std::runtime_error("forms.py template failed: " + made.out);
    return out;
}

RunResult fill_form(const std::string &in, const std::string &out, const std::vector<std::string> &args) {
    std::string command = "/usr/bin/python3 " + shell_quote(std::string(QS_SOURCE_DIR) + "/tests/support/forms.py") +
                          " fill " + shell_quote(in) + " " + shell_quote(out);
    for (const std::string &arg : args) command += " " + shell_quote(arg);
    return run_shell(command + " 2>&1");
}

OtherSigner::OtherSigner(const TempDir &dir) {
    if (run_shell("command -v certutil && command -v pk12util && command -v pdfsig").status != 0) return;
    const std::string folder = dir.file("nss"), database = "sql:" + folder;
    const RunResult made = run_shell("mkdir -p " + shell_quote(folder) + " && certutil -N -d " + shell_quote(database) +
                                     " --empty-password && pk12util -i " + shell_quote(fixture("signer.p12")) +
                                     " -d " + shell_quote(database) + " -W " + kStorePassword + " 2>&1");
    if (made.status != 0) throw std::runtime_error("the NSS database could not be made: " + made.out);
    database_ = database;
}

RunResult OtherSigner::sign(const std::string &field, const std::string &in, const std::string &out,
                            bool add_new) const {
    const std::string how = add_new ? " -add-signature -new-signature-field-name " : " -sign ";
    return run_shell("pdfsig -nssdir " + shell_quote(database_) + how + shell_quote(field) + " -nick signer " +
                     shell_quote(in) + " " + shell_quote(out) + " 2>&1");
}

}  // namespace qstest
