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

QS_PENDING char *qpdf_incremental_update(SigningConfig *, FILE *, const char *, long *, const char *,
                                         const char *, const char *, const char *, long *, long *,
                                         int, int, int, const char *, const char *, const char *,
                                         int, const char *, int, int, int, unsigned char *,
                                         unsigned char *, int) {
    not_yet("The signature update");
    return nullptr;
}
QS_PENDING int calculate_byte_range(SigningConfig *, int, int *) { return not_yet("Placeholder sizing"); }
QS_PENDING int update_contents(SigningConfig *, FILE *, long, long, long, int, int) {
    return not_yet("Writing the signature");
}
QS_PENDING int get_x509_subject_and_sn(int, const char *, const char *, const char *, const char *,
                                       char *, char *) {
    return not_yet("Reading the signer certificate");
}
QS_PENDING int get_x509_subject_name(const char *, char *) { return not_yet("Reading the signer name"); }
QS_PENDING int verify(const char *, const char *) { return not_yet("Signature verification"); }
QS_PENDING int verify_internal(const char *, SigningConfig *) { return not_yet("Signature verification"); }
