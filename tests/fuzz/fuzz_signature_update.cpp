// The signature update on an in-memory document, into a field named by a
// fully qualified name, as the forms others prepare are signed: the form is
// searched, and the field found, refused or made with its parents.
#include <cstdio>
#include <cstdlib>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    if (size == 0) return 0;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!f) return 0;
    SigningConfig *config = fuzz::default_config();
    std::snprintf(config->sigfield, sizeof config->sigfield, "%s", size % 2 ? "parties.buyer" : "Signature1");
    std::snprintf(config->siglock, sizeof config->siglock, "%s", "include:amount");
    long length = -1, a = 0, c = 0;
    char *update = qpdf_incremental_update(config, f, "", &length, "title", "author", "subject",
                                           "keywords", &a, &c, 5000, 0, 0, "reason", "location",
                                           "Fuzz Signer", 1, "01AB", 0, 0, 0, nullptr, nullptr, 0);
    std::free(update);
    free_config(config);
    std::fclose(f);
    return 0;
}
