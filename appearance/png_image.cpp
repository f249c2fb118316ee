// The PNG image of a visible signature. Images are not drawn in this release.
#include <quillseal/appearance.h>

#include "core/guard.h"

extern "C" {

QS_API int get_png_data(const char *, int *, int *, int *, unsigned char **rgb, unsigned char **alpha) {
    if (rgb) *rgb = nullptr;
    if (alpha) *alpha = nullptr;
    qs::report("Signature images are not supported in this version.");
    return -1;
}

}  // extern "C"
