// The configuration of one operation: JSON text first, then the key=value
// file, then the defaults, and finally the check that the selected key store
// is completely described.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <openssl/crypto.h>

#include <quillseal/config.h>

#include "config/conf_file_reader.h"
#include "config/json_reader.h"
#include "core/base/guard.h"
#include "core/base/text.h"

namespace {

constexpr const char *kPkcs12 = "PKCS12 KEYSTORE FILE";
constexpr const char *kPkcs11 = "PKCS11 SECURITY DEVICE";
constexpr const char *kOpensslStore = "OPENSSL STORE";
constexpr const char *kRemote = "CSC";
// Documents prepared for one authorisation of a remote key wait with their
// files open; this many keep well inside a process's share of open files.
constexpr long kMostBatch = 500;

bool empty(const char *field) { return field[0] == '\0'; }
bool same(const char *field, const char *text) { return std::strcmp(field, text) == 0; }

template <std::size_t N>
void default_to(char (&field)[N], const char *value) {
    if (empty(field)) qs::copy_field(field, value);
}

// The key reference handed to the engine; false when it does not fit. It is
// written straight into the record, so the PIN it may carry is copied nowhere
// else; a reference that does not fit is wiped whole, cut part included.
bool compose_p11key(SigningConfig *config) {
    const char *url = config->p11url;
    const bool names_slot_and_id = std::strstr(url, "slot_") && std::strstr(url, "-id_");
    bool fits;
    if (names_slot_and_id || empty(config->pin)) {
        fits = qs::copy_field(config->p11key, url);
    } else {
        const int n = std::snprintf(config->p11key, sizeof config->p11key, "%s;pin-value=%s", url, config->pin);
        fits = n >= 0 && static_cast<std::size_t>(n) < sizeof config->p11key;
    }
    if (!fits) OPENSSL_cleanse(config->p11key, sizeof config->p11key);
    return fits;
}

void normalise_hashalgo(char (&hashalgo)[256]) {
    static const char *const names[][2] = {
        {"sha1", "SHA1"}, {"sha384", "SHA384"}, {"sha512", "SHA512"}, {"sha224", "SHA224"}};
    const char *chosen = "SHA256";
    for (const auto &name : names)
        if (same(hashalgo, name[0]) || same(hashalgo, name[1])) chosen = name[1];
    qs::copy_field(hashalgo, chosen);
}

int apply_defaults(SigningConfig *config) {
    default_to(config->cachedir, "/tmp");
    default_to(config->sigdateformat, "%c");
    if (same(config->debug, "on")) default_to(config->logfile, "/tmp/quillseal.log");
    int result = 0;
    if (same(config->certstore, kPkcs11) && !compose_p11key(config)) {
        // A cut key reference would hand the device a wrong PIN.
        qs::report("Error processing configuration file! The entries p11url and pin are too long!");
        result = -11;
    }
    default_to(config->subfilter, "/adbe.pkcs7.detached");
    normalise_hashalgo(config->hashalgo);
    default_to(config->sigrect, "[-170 -80 -40 -40]");
    default_to(config->sigpage, "1");
    default_to(config->extrarange, "0");
    if (same(config->certstore, kRemote)) default_to(config->cscbatch, "100");
    return result;
}

bool whole_number_within(const char *text, long low, long high) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

int check_remote_key(const SigningConfig *config) {
    const bool login = !empty(config->cscuser) && !empty(config->cscpasswd);
    if (empty(config->cscurl) || (empty(config->csctoken) && !login)) {
        qs::report("Error processing configuration file! The entry cscurl, and csctoken or cscuser and cscpasswd, "
                   "may be missing!");
        return -1;
    }
    if (!whole_number_within(config->cscbatch, 1, kMostBatch)) {
        qs::report(qs::format("Error processing configuration file! The entry cscbatch must be a number from 1 "
                              "to %ld!", kMostBatch));
        return -1;
    }
    return 0;
}

int check_key_store(const SigningConfig *config) {
    if (same(config->certstore, kPkcs12)) {
        if (!config->certfile || empty(config->certfile) || empty(config->certpasswd)) {
            qs::report("Error processing configuration file! One or more of the entries certfile and "
                       "certpasswd may be missing!");
            return -1;
        }
        return 0;
    }
    if (same(config->certstore, kPkcs11)) {
        const bool incomplete = empty(config->p11url) || empty(config->signerpem) || empty(config->capem) ||
                                empty(config->engine) || empty(config->library);
        if (incomplete && !same(config->usinggui, "true")) {
            qs::report("Error processing configuration file! One or more of the entries p11url, signerpem, "
                       "capem, library and engine may be missing!");
            return -11;
        }
        return 0;
    }
    if (same(config->certstore, kOpensslStore)) {
        // The certificate may come from certuri, signerpem or the key's own store.
        if (empty(config->keyuri) && !same(config->usinggui, "true")) {
            qs::report("Error processing configuration file! The entry keyuri is missing!");
            return -11;
        }
        return 0;
    }
    if (same(config->certstore, kRemote)) return check_remote_key(config);
    qs::report("Error processing configuration file! The entry certstore is missing or invalid!");
    return -1;
}

int fill(const char *configuration, SigningConfig *config) {
    std::string too_long;
    qs::fill_from_json(configuration, config, &too_long);
    if (!too_long.empty()) {
        // A cut path could name some other file: the file is not read.
        qs::report(qs::config_open_message(too_long.c_str()));
        return -1;
    }
    if (read_conf_file(config->conffile, config) < 0) return -1;
    const int defaults = apply_defaults(config);
    const int checked = check_key_store(config);
    return defaults < 0 ? defaults : checked;
}

}  // namespace

extern "C" {

QS_API int read_config(const char *configuration, SigningConfig **out) {
    if (!out) {
        qs::report("No place was given for the configuration record.");
        return -1;
    }
    *out = init_config(nullptr);
    if (!*out) {
        qs::report("Out of memory while creating the configuration record.");
        return -1;
    }
    SigningConfig *config = *out;
    return qs::guarded([&]() -> int { return fill(configuration ? configuration : "", config); });
}

}  // extern "C"
