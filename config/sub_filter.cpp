// Normalisation of the configured signature sub-filter name.
#include <cstring>

#include <quillseal/config.h>

#include "core/base/text.h"

extern "C" {

QS_API int validate_sub_filter(char *subfilter) {
    if (!subfilter) return 0;
    static const char *const known[] = {"/adbe.pkcs7.sha1", "/adbe.pkcs7.detached", "/adbe.x509.rsa.sha1",
                                         "/ETSI.CAdES.detached"};
    const char *chosen = "/adbe.pkcs7.detached";
    // Compared without the slash that the stored form carries.
    for (const char *name : known)
        if (std::strcmp(subfilter, name + 1) == 0) chosen = name;
    qs::copy_bounded(subfilter, qs::kTextField, chosen);
    return 0;
}

}  // extern "C"
