// Helpers shared by the signature tests: configurations filled directly,
// synthetic files with a placeholder, and the slot's message.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace cryptotest {

struct ConfigDeleter {
    void operator()(SigningConfig *c) const { free_config(c); }
};
using Config = std::unique_ptr<SigningConfig, ConfigDeleter>;

inline void set_certfile(SigningConfig *c, const std::string &value) {
    std::free(c->certfile);
    c->certfile = static_cast<char *>(std::malloc(value.size() + 1));
    std::memcpy(c->certfile, value.c_str(), value.size() + 1);
}

template <std::size_t N>
void set(char (&field)[N], const std::string &value) {
    std::snprintf(field, N, "%s", value.c_str());
}

// A PKCS#12 configuration as read_config leaves it after its defaults.
inline Config pkcs12_config(const std::string &store = "signer.p12", const std::string &hash = "SHA256",
                            const std::string &subfilter = "/adbe.pkcs7.detached") {
    Config c(init_config(nullptr));
    set(c->certstore, "PKCS12 KEYSTORE FILE");
    set_certfile(c.get(), qstest::fixture(store));
    set(c->certpasswd, qstest::kStorePassword);
    set(c->hashalgo, hash);
    set(c->subfilter, subfilter);
    set(c->extrarange, "0");
    set(c->cachedir, "/tmp");
    return c;
}

// The text in the message slot (fetching re-arms it).
inline std::string message() {
    char text[256];
    handle_error_message(text, 0);
    return text;
}

inline std::string base64_of(const std::string &path, bool one_line) {
    return qstest::run_shell("openssl base64 " + std::string(one_line ? "-A " : "") + "-in " +
                             qstest::shell_quote(path))
        .out;
}

// A key=value configuration for a fixture key store, password stored encrypted.
inline std::string write_conf(const qstest::TempDir &dir, const std::string &extra,
                              const std::string &store = "signer.p12") {
    return qstest::write_signing_config(dir, store, extra, "q.conf");
}

}  // namespace cryptotest
