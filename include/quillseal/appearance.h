#ifndef QUILLSEAL_APPEARANCE_H
#define QUILLSEAL_APPEARANCE_H

#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* ---- Signature image ----
 * rgb (3 bytes a pixel) and alpha (1 byte a pixel) are malloc'd; the caller frees them. */
QS_API int get_png_data(const char *path, int *width, int *height, int *bitsPerComponent,
                        unsigned char **rgb, unsigned char **alpha);

QS_EXTERN_C_END

#endif
