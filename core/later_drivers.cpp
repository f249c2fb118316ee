// Drivers whose features are not part of this release yet. They refuse
// honestly, so that no caller mistakes them for a finished operation.
#include <quillseal/quillseal.h>

#include "core/guard.h"

extern "C" {

QS_API int sign_encrypt(const char *, const char *, const char *, const char *, const char *, int,
                        const char *, const char *, const char *, const char *, int, int,
                        SigningConfig *) {
    qs::report("Signing with encryption (open password) is not supported in this version.");
    return -1;
}

}  // extern "C"
