// Shared helpers of the test programs: fixture paths, temporary folders,
// files, and running the real quillseal program.
#pragma once

#include <string>
#include <vector>

namespace qstest {

// Path of a generated fixture (test PKI and documents).
std::string fixture(const std::string &name);
// Password of every generated PKCS#12 key store.
inline const char *kStorePassword = "demo-pass";

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);
bool file_exists(const std::string &path);

// A fresh folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A classic PDF whose object i+1 has body objects[i]; the trailer gets /Size,
// /Root 1 0 R and the extra text.
std::string make_pdf(const std::vector<std::string> &objects, const std::string &trailer_extra = "");

// A key=value configuration (file `name` in dir) for a fixture PKCS#12 key store,
// its password stored encrypted, followed by the extra lines.
std::string write_signing_config(const TempDir &dir, const std::string &store = "signer.p12",
                                 const std::string &extra = "", const std::string &name = "quillseal.conf");

// One PNG chunk: length, type, data and CRC.
std::string png_chunk(const std::string &type, const std::string &data);
// A PNG file of width x height pixels: colour type, bit depth, the packed rows
// (height rows of equal length, no filter bytes) and chunks to put before IDAT.
std::string make_png(unsigned width, unsigned height, int colour_type, int bit_depth, const std::string &rows,
                     const std::string &chunks = "");

struct RunResult {
    int status = -1;   // exit status, or -1 when the program did not exit normally
    std::string out;   // standard output
};

// Runs a shell command, capturing its standard output.
RunResult run_shell(const std::string &command);
// Runs the quillseal program with the given arguments, each passed as one word.
RunResult run_cli(const std::vector<std::string> &args, const std::string &cwd = "");
// Quotes one word for the shell.
std::string shell_quote(const std::string &word);

// Form templates and form filling by tests/support/forms.py (Debian's
// python3 with pikepdf): a template made from the fixture ten-pages.pdf with
// the approver's lock (empty: the script's own), and one update appended to
// in that fills the fields and does what the options say.
std::string make_form(const TempDir &dir, const std::string &name, const std::string &lock = "");
RunResult fill_form(const std::string &in, const std::string &out, const std::vector<std::string> &args);

// A signer of another program: poppler's pdfsig with the fixture signer.p12
// imported into an NSS database in dir. usable() is false when the NSS tools
// are missing.
class OtherSigner {
public:
    explicit OtherSigner(const TempDir &dir);
    bool usable() const { return !database_.empty(); }
    // pdfsig -sign field (a new field of that name with add_new, as -add-signature makes it).
    RunResult sign(const std::string &field, const std::string &in, const std::string &out, bool add_new = false) const;

private:
    std::string database_;
};

}  // namespace qstest
