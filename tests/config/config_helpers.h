// Helpers shared by the configuration tests.
#pragma once

#include <memory>
#include <string>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace cfgtest {

using Record = std::unique_ptr<SigningConfig, decltype(&free_config)>;

inline Record new_record() { return Record(init_config(nullptr), &free_config); }

// Fetches the message slot and re-arms it.
inline std::string take_message() {
    char buf[256];
    handle_error_message(buf, 0);
    return buf;
}

// The stored form of a password, as the file holds it.
inline std::string stored(const std::string &password) {
    char out[513];
    if (encrypt_password(password.c_str(), out) != 0) return "";
    return out;
}

struct ReadResult {
    int rc;
    Record record;
};

inline ReadResult read(const std::string &configuration) {
    SigningConfig *raw = nullptr;
    take_message();
    const int rc = read_config(configuration.c_str(), &raw);
    return {rc, Record(raw, &free_config)};
}

// A key=value file in a temporary folder.
struct ConfFile {
    qstest::TempDir dir;
    std::string path;
    explicit ConfFile(const std::string &text, const std::string &name = "quillseal.conf")
        : path(dir.file(name)) {
        qstest::write_file(path, text);
    }
};

inline std::string pkcs12_lines() {
    return "certstore=PKCS12 KEYSTORE FILE\ncertfile=/keys/signer.p12\ncertpasswd=" + stored("demo-pass") + "\n";
}

}  // namespace cfgtest
