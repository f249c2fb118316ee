#include "support/soft_token.h"

#include <cstdlib>
#include <sys/stat.h>

#include <quillseal/quillseal.h>

namespace qstest {
namespace {

std::string first_line(const std::string &text) { return text.substr(0, text.find('\n')); }

// The engines folder of the system's OpenSSL, from `openssl version -e`.
std::string find_engine() {
    const std::string line = first_line(run_shell("openssl version -e 2>/dev/null").out);
    const auto open = line.find('"'), close = line.rfind('"');
    if (open == std::string::npos || close <= open) return "";
    const std::string path = line.substr(open + 1, close - open - 1) + "/pkcs11.so";
    return file_exists(path) ? path : "";
}

std::string find_module() {
    return first_line(run_shell("dpkg -L libsofthsm2 2>/dev/null | grep '/libsofthsm2\\.so$' | head -n1").out);
}

}  // namespace

SoftToken::SoftToken(const TempDir &dir)
    : conf_(dir.file("softhsm2.conf")), engine_(find_engine()), module_(find_module()) {
    if (engine_.empty() || module_.empty()) {
        problem_ = "the pkcs11 engine of OpenSSL or the SoftHSM2 module is not installed";
        return;
    }
    const std::string tokens = dir.file("tokens");
    mkdir(tokens.c_str(), 0700);
    write_file(conf_, "directories.tokendir = " + tokens + "\nobjectstore.backend = file\nlog.level = ERROR\n");
    slot_ = init_token("qs", kPin, problem_);
    if (slot_.empty()) return;
    problem_ += import_key(fixture("signer.key"), "signer", "01");
    problem_ += import_key(fixture("ec-signer.key"), "ec", "02");
}

std::string SoftToken::init_token(const std::string &label, const std::string &pin, std::string &problem) const {
    const RunResult init = run_shell(env() + "softhsm2-util --init-token --free --label " + label +
                                     " --so-pin 12345678 --pin " + pin + " 2>&1");
    const auto at = init.out.find("reassigned to slot ");
    if (init.status != 0 || at == std::string::npos) {
        problem = "softhsm2-util --init-token: " + init.out;
        return "";
    }
    return first_line(init.out.substr(at + 19));
}

std::string SoftToken::import_key(const std::string &token, const std::string &pin, const std::string &key_file,
                                  const std::string &label, const std::string &id) const {
    const RunResult import = run_shell(env() + "softhsm2-util --import " + shell_quote(key_file) + " --token " +
                                       token + " --label " + shell_quote(label) + " --id " + id + " --pin " + pin +
                                       " 2>&1");
    return import.status == 0 ? "" : "softhsm2-util --import " + key_file + ": " + import.out;
}

std::string SoftToken::import_key(const std::string &key_file, const std::string &label, const std::string &id) const {
    return import_key("qs", kPin, key_file, label, id);
}

std::string SoftToken::add_token(const std::string &label, const std::string &pin, const std::string &key) const {
    std::string problem;
    if (init_token(label, pin, problem).empty()) return problem;
    return import_key(label, pin, fixture(key), "signer", "01");
}

std::string SoftToken::provider() {
#ifdef __SANITIZE_ADDRESS__
    // The provider opens the module with RTLD_DEEPBIND, which AddressSanitizer
    // refuses: a sanitizer build runs the engine route only.
    return "";
#endif
    return first_line(
        run_shell("dpkg -L pkcs11-provider 2>/dev/null | grep '/ossl-modules/pkcs11\\.so$' | head -n1").out);
}

std::string SoftToken::import_certificate(const std::string &pem_file, const std::string &label,
                                          const std::string &id, const std::string &token,
                                          const std::string &pin) const {
    const std::string der = conf_ + "." + label + ".der";
    const RunResult convert =
        run_shell("openssl x509 -in " + shell_quote(pem_file) + " -outform der -out " + shell_quote(der) + " 2>&1");
    if (convert.status != 0) return "openssl x509 " + pem_file + ": " + convert.out;
    const RunResult write = run_shell(env() + "pkcs11-tool --module " + shell_quote(module_) + " --token-label " +
                                      token + " --login --pin " + pin + " --write-object " + shell_quote(der) +
                                      " --type cert --label " + shell_quote(label) + " --id " + id + " 2>&1");
    return write.status == 0 ? "" : "pkcs11-tool --write-object " + pem_file + ": " + write.out;
}

std::string SoftToken::write_store_config(const TempDir &dir, const std::string &name, const std::string &keyuri,
                                          const std::string &extra, const std::string &pin_value) const {
    char stored[600] = "";
    if (!pin_value.empty()) encrypt_password(pin_value.c_str(), stored);
    const bool first = !extra.empty() && extra[0] == '!';
    const std::string lines = "certstore=OPENSSL STORE\nkeyuri=" + keyuri + "\nprovider=pkcs11\nprovidermodule=" +
                              module_ + "\npin=" + stored + "\ncapem=" + fixture("ca.pem") + "\n";
    const std::string path = dir.file(name);
    write_file(path, first ? extra.substr(1) + lines : lines + extra);
    return path;
}

std::string SoftToken::env() const { return "SOFTHSM2_CONF=" + shell_quote(conf_) + " "; }

void SoftToken::activate() const { setenv("SOFTHSM2_CONF", conf_.c_str(), 1); }

std::string SoftToken::write_config(const TempDir &dir, const std::string &name, const std::string &p11url,
                                    const std::string &signerpem, const std::string &extra,
                                    const std::string &pin_value, const std::string &capem) const {
    char stored[600] = "";
    if (!pin_value.empty()) encrypt_password(pin_value.c_str(), stored);
    const auto file = [](const std::string &pem) { return pem.rfind('/', 0) == 0 ? pem : fixture(pem); };
    const std::string path = dir.file(name);
    write_file(path, "certstore=PKCS11 SECURITY DEVICE\np11url=" + p11url + "\npin=" + stored +
                         "\nsignerpem=" + file(signerpem) + "\ncapem=" + file(capem) +
                         "\nengine=" + engine_ + "\nlibrary=" + module_ + "\n" + extra);
    return path;
}

}  // namespace qstest
