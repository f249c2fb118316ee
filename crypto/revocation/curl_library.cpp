#include "crypto/revocation/curl_library.h"

#include <dlfcn.h>

#include <string>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"

namespace qs {
namespace {

constexpr const char *kLibcurl = "libcurl.so.4";

struct Loaded {
    CurlFunctions functions{};
    bool ok = false;
    std::string error;
};

template <typename Function>
bool bind(void *library, const char *name, Function &slot, std::string &error) {
    void *symbol = ::dlsym(library, name);
    if (!symbol) {
        error = std::string(name) + " not found";
        return false;
    }
    slot = reinterpret_cast<Function>(symbol);
    return true;
}

// Opened once and kept for the rest of the process.
Loaded load() {
    Loaded loaded;
    void *library = ::dlopen(kLibcurl, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *why = ::dlerror();
        loaded.error = why ? why : "not found";
        return loaded;
    }
    CurlFunctions &f = loaded.functions;
    loaded.ok = bind(library, "curl_easy_init", f.easy_init, loaded.error) &&
                bind(library, "curl_easy_setopt", f.easy_setopt, loaded.error) &&
                bind(library, "curl_easy_perform", f.easy_perform, loaded.error) &&
                bind(library, "curl_easy_getinfo", f.easy_getinfo, loaded.error) &&
                bind(library, "curl_easy_reset", f.easy_reset, loaded.error) &&
                bind(library, "curl_easy_cleanup", f.easy_cleanup, loaded.error) &&
                bind(library, "curl_easy_strerror", f.easy_strerror, loaded.error) &&
                bind(library, "curl_slist_append", f.slist_append, loaded.error) &&
                bind(library, "curl_slist_free_all", f.slist_free_all, loaded.error);
    return loaded;
}

}  // namespace

const CurlFunctions *curl_functions() {
    static const Loaded loaded = load();
    if (!loaded.ok) {
        report(format("Unable to load %s, which the network needs: %s", kLibcurl, loaded.error.c_str()));
        return nullptr;
    }
    return &loaded.functions;
}

// The deleters of the handle aliases: a handle exists only once libcurl is open.
void cleanup_curl(CURL *c) {
    if (const CurlFunctions *curl = curl_functions()) curl->easy_cleanup(c);
}

void free_curl_list(curl_slist *l) {
    if (const CurlFunctions *curl = curl_functions()) curl->slist_free_all(l);
}

}  // namespace qs
