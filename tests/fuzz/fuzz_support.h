// Shared pieces of the fuzz targets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include <quillseal/quillseal.h>

namespace fuzz {

// One scratch file per process, rewritten for every input.
inline const std::string &scratch_path(const char *suffix) {
    static const std::string path = "/tmp/qs-fuzz-" + std::to_string(getpid()) + suffix;
    return path;
}

inline const std::string &write_scratch(const uint8_t *data, size_t size, const char *suffix) {
    const std::string &path = scratch_path(suffix);
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

// Re-arms the message slot so that every input starts like a new operation.
inline void rearm() {
    char scratch[256];
    handle_error_message(scratch, 0);
}

// A record with the defaults a signing operation would have.
inline SigningConfig *default_config() {
    SigningConfig *c = init_config(nullptr);
    snprintf(c->subfilter, sizeof c->subfilter, "/adbe.pkcs7.detached");
    snprintf(c->sigrect, sizeof c->sigrect, "[-170 -80 -40 -40]");
    snprintf(c->sigpage, sizeof c->sigpage, "1");
    snprintf(c->hashalgo, sizeof c->hashalgo, "SHA256");
    snprintf(c->extrarange, sizeof c->extrarange, "0");
    snprintf(c->sigdateformat, sizeof c->sigdateformat, "%%c");
    snprintf(c->appname, sizeof c->appname, "Quillseal v2.7.1");
    snprintf(c->cachedir, sizeof c->cachedir, "/tmp");
    return c;
}

}  // namespace fuzz
