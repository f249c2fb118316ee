#ifndef QUILLSEAL_PDF_H
#define QUILLSEAL_PDF_H

#include <stddef.h>
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

/* ---- File tail and object offsets ----
 * read_xref_offset: *startxref receives the offset of the "startxref" keyword,
 * *prev the offset written after it (the last cross-reference section).
 * 0 with the stream rewound, or -1 with the message reported. */
QS_API int read_xref_offset(FILE *input, long *startxref, long *prev);
/* Distance from the end back to the first "%" of the last "%%EOF" (that "%"
 * counted), or the file size when there is none; -1 when the stream fails. */
QS_API long findEOFFromEnd(FILE *input);
/* Start and end offsets of object number (generation 0) and of the object after
 * it, from qpdf's cross-reference listing. 0 when both were found, else -1. */
QS_API int qpdf_read_obj_start_end_offsets(FILE *stream, const char *password, int number,
                                           long *start, long *end);
/* Start and end offsets of object number from a classic table at offset xref
 * (one subsection from object 0, entries in file order). */
QS_API int readObjStartEndOffsets(FILE *stream, long xref, int number, long *start, long *end);
/* End of the object that starts at start: the nearest following offset among
 * offsets[0..count-1] and the zero-terminated candidates; fallback when not 0. */
QS_API long getObjEndByteOffset(long start, const long *offsets, const long *candidates,
                                int count, long fallback);
QS_API long getByteOffsetEnd(long start, const long *offsets, long candidate, int count,
                             long fallback);

/* ---- Cross-reference section helpers ---- */
/* out: at least 11 bytes; receives the offset as 10 decimal digits, zero padded
 * (NULL when the offset is negative or needs more digits). */
QS_API char *getXRefLineOffset(long offset, char *out);
/* out: 6 bytes; receives 0x01, the low 32 bits of offset big-endian, 0x00. */
QS_API unsigned char *xRefStreamOffsetData(long offset, unsigned char *out);
/* out: at least 16 bytes; receives the number followed by "_0_R". */
QS_API char *indirectObjectPlaceHolder(int number, char *out);
/* out: 16 bytes; receives the MD5 digest of data. */
QS_API unsigned char *compute_md5(const unsigned char *data, size_t length, unsigned char *out);

/* ---- Signature field incremental update ----
 * Returns a malloc'd buffer with the whole update (the caller frees it), its
 * length in *length, the offset of the placeholder's "<" in *a and the length
 * of the second signed range in *c. NULL on failure, with the message reported.
 * N is raised to the next even number. Encrypted and certified inputs are
 * refused. With visible set the field gets an appearance: the sigtext of config
 * and, when image is set, the image of imageWidth x imageHeight pixels with
 * 3 bytes a pixel in rgb and 1 in alpha (NULL for an opaque image); only
 * bitsPerComponent 8 is taken. */
QS_API char *qpdf_incremental_update(SigningConfig *config, FILE *input, const char *password,
                                     long *length, const char *title, const char *author,
                                     const char *subject, const char *keywords, long *a,
                                     long *c, int N, int visible, int certify,
                                     const char *reason, const char *location,
                                     const char *signerName, int page, const char *serial,
                                     int image, int imageWidth, int imageHeight,
                                     unsigned char *rgb, unsigned char *alpha,
                                     int bitsPerComponent);

/* ---- Long-term validation update ----
 * The update that gives a signed document (open file input, opened with
 * password, "" when unencrypted) a Document Security Store with the
 * certificates, OCSP responses and CRLs of its signatures, gathered with
 * getLTVData and cached in cachedir ("/tmp" when NULL or empty). Returns a
 * malloc'd buffer with the whole update (the caller frees it) and its length
 * in *length; NULL (reported) on failure, *length then -1. */
QS_API char *qpdf_incremental_ltv_update(FILE *input, const char *password, long *length,
                                         const char *cachedir);

/* ---- Form fields ----
 * signature_fields: the signature fields of input, in document order, as a
 * malloc'd pretty-printed JSON array in *json that the caller frees; each
 * entry {"name", "page", "rect": [llx, lly, urx, ury], "signed", "signer",
 * "lock"}: the fully qualified name, the page and rectangle of its widget
 * (null when it has none), whether it holds a value and the display name of
 * its signer (null when none can be read), and its /Lock as null or
 * {"action": "All"|"Include"|"Exclude", "fields": [names]}. 0, or -1
 * (reported) when the document cannot be read.
 * add_signature_field: a copy of the unsigned input with one more, empty
 * signature field, appended as an incremental update: name is fully
 * qualified (dots make or reuse parent fields), page 1-based, rect the
 * lower-left and upper-right corners. The configuration (as for sign; no key
 * store needed) gives siglock, the field's /Lock. Refused: a signed or
 * encrypted input, a name the form has, a page out of range, an empty or
 * inverted rectangle. The output may not be the input. 0, or -1 (reported,
 * no output left). */
QS_API int signature_fields(const char *input, char **json);
QS_API int add_signature_field(const char *input, const char *output, const char *name, int page,
                               const int rect[4], const char *configuration);

QS_EXTERN_C_END

#endif
