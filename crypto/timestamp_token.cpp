// Timestamps from a time-stamping authority are not part of this release: a
// signature that asks for one is refused rather than written without it.
#include "crypto/timestamp_token.h"

#include "core/guard.h"

namespace qs {

int add_timestamp_token(SigningConfig *, CMS_ContentInfo *) {
    report("Timestamps from a time-stamping authority are not supported in this version.");
    return -1;
}

}  // namespace qs
