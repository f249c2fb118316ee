// Weak stand-ins for entry points whose modules are still being written; each
// fails honestly and is overridden by the real definition when it lands.
#include <quillseal/quillseal.h>

#include "core/guard.h"

#define QS_PENDING extern "C" QS_API __attribute__((weak))

namespace {
int not_yet(const char *what) {
    qs::report(std::string(what) + " is not available in this build.");
    return -1;
}
}  // namespace

QS_PENDING int verify(const char *, const char *) { return not_yet("Signature verification"); }
QS_PENDING int verify_internal(const char *, SigningConfig *) { return not_yet("Signature verification"); }
