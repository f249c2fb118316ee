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
    const std::string util = env() + "softhsm2-util ";
    const RunResult init =
        run_shell(util + "--init-token --free --label qs --so-pin 12345678 --pin " + kPin + " 2>&1");
    const auto at = init.out.find("reassigned to slot ");
    if (init.status != 0 || at == std::string::npos) {
        problem_ = "softhsm2-util --init-token: " + init.out;
        return;
    }
    slot_ = first_line(init.out.substr(at + 19));
    const char *keys[][3] = {{"signer.key", "signer", "01"}, {"ec-signer.key", "ec", "02"}};
    for (const auto &key : keys) {
        const RunResult import = run_shell(util + "--import " + shell_quote(fixture(key[0])) + " --token qs --label " +
                                           key[1] + " --id " + key[2] + " --pin " + kPin + " 2>&1");
        if (import.status != 0) problem_ += "softhsm2-util --import " + std::string(key[0]) + ": " + import.out;
    }
}

std::string SoftToken::env() const { return "SOFTHSM2_CONF=" + shell_quote(conf_) + " "; }

void SoftToken::activate() const { setenv("SOFTHSM2_CONF", conf_.c_str(), 1); }

std::string SoftToken::write_config(const TempDir &dir, const std::string &name, const std::string &p11url,
                                    const std::string &signerpem, const std::string &extra,
                                    const std::string &pin_value) const {
    char stored[600] = "";
    if (!pin_value.empty()) encrypt_password(pin_value.c_str(), stored);
    const std::string path = dir.file(name);
    write_file(path, "certstore=PKCS11 SECURITY DEVICE\np11url=" + p11url + "\npin=" + stored +
                         "\nsignerpem=" + fixture(signerpem) + "\ncapem=" + fixture("ca.pem") +
                         "\nengine=" + engine_ + "\nlibrary=" + module_ + "\n" + extra);
    return path;
}

}  // namespace qstest
