// Timestamp authority settings.
#include <quillseal/crypto.h>

#include "core/base/guard.h"

extern "C" {

QS_API int tsa_ok(SigningConfig *config, int timestamp) {
    if (timestamp && (!config || config->tsaurl[0] == '\0')) {
        qs::report("TSA URL not set in config file.");
        return -1;
    }
    return 0;
}

}  // extern "C"
