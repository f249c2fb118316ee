#ifndef QUILLSEAL_PDF_H
#define QUILLSEAL_PDF_H

#include <stdio.h>

#include <quillseal/config.h>
#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* ---- Byte-level file helpers (streams opened by the caller) ---- */
QS_API char *lgets(char *buffer, int length, FILE *stream);
QS_API long getFileSize(FILE *stream);
QS_API long copy_file_section(FILE *source, FILE *destination, long start, long end);
/* malloc'd buffer of end-start+1 bytes, NUL-terminated; the caller frees it */
QS_API char *get_file_section(FILE *stream, long start, long end);
/* malloc'd buffer with the whole file (no NUL added); NULL and *size 0 on failure */
QS_API char *copy_file_to_buffer(const char *path, long *size);

/* ---- Signature field incremental update ----
 * Returns a malloc'd buffer with the whole update (the caller frees it), its
 * length in *length, the offset of the placeholder's "<" in *a and the length
 * of the second signed range in *c. NULL on failure, with the message reported. */
QS_API char *qpdf_incremental_update(SigningConfig *config, FILE *input, const char *password,
                                     long *length, const char *title, const char *author,
                                     const char *subject, const char *keywords, long *a,
                                     long *c, int N, int visible, int certify,
                                     const char *reason, const char *location,
                                     const char *signerName, int page, const char *serial,
                                     int image, int imageWidth, int imageHeight,
                                     unsigned char *rgb, unsigned char *alpha,
                                     int bitsPerComponent);

QS_EXTERN_C_END

#endif
