#ifndef QUILLSEAL_APPEARANCE_H
#define QUILLSEAL_APPEARANCE_H

#include <time.h>

#include <quillseal/config.h>
#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* ---- Signature rectangle ----
 * sigrect is the rectangle text "[llx lly urx ury]" (negative x values count from
 * the page width, negative y values from the page height); pagebox is the page box
 * text "[%d %d %d %d]" of the chosen page. Returns four malloc'd ints
 * llx, lly, urx, ury (the caller frees them), corrected against the page size.
 * An unreadable rectangle text leaves the page default in place; a page box that
 * does not hold four numbers is reported and gives NULL. */
QS_API int *validate_sig_rect(const char *sigrect, const char *pagebox);

/* ---- Dates ----
 * The PDF date of t in local time, "D:YYYYMMDDHHmmSS" followed by the offset from
 * UTC ("+01'00'", "-03'30'", "Z00'00'"): 23 characters into moddate (at least 24
 * bytes). Returns 0, or -1 (reported, moddate empty) when t has no such date. */
QS_API int get_mod_date(time_t t, char *moddate);

/* The display form "YYYY.MM.DD HH:mm:SS +01'00'" of a PDF date into display
 * (at least 28 bytes; longer results are cut). Returns 0. */
QS_API int convert_mod_date_to_default_display_date(const char *moddate, char *display);

/* The display form of a PDF date in a new zero-filled 28-byte buffer (caller
 * frees); NULL when it cannot be allocated. */
QS_API char *showDate(const char *moddate);

/* t in local time formatted with strftime and format (NULL means "%c") into
 * out (at least 256 bytes, at most 255 characters kept). Returns 0, or -1
 * (reported, out empty) when t cannot be converted. */
QS_API int get_visible_signature_date(time_t t, char *out, const char *format);

/* Fills the text template sigtext: "%N"/"!N" the name, "%R"/"!R" the reason,
 * "%L"/"!L" the location, "%Z" and "%C" the whole date, "%T" its first 19 and
 * "%D" its first 10 characters, each at its first occurrence. Stores a new
 * zero-filled 512-byte buffer with the text (at most 511 bytes, longer text is
 * cut) in *text; the caller frees it. Returns 0, or -1 (reported) on failure. */
QS_API int prepare_visible_signature_text(const char *sigtext, const char *name, const char *reason,
                                          const char *location, const char *date, char **text);

/* ---- Signature image ----
 * Reads the PNG file at path. Palette, grey and 16-bit images are expanded or
 * reduced to 8 bits per sample (*bitsPerComponent is 8). *rgb receives 3 bytes
 * a pixel, *alpha 1 byte a pixel, rows top to bottom; both are malloc'd and the
 * caller frees them. *alpha is NULL when the image has no transparency. Images
 * over 10000 pixels on a side or 4 million pixels in all are refused. 0, or -1
 * with the message reported. */
QS_API int get_png_data(const char *path, int *width, int *height, int *bitsPerComponent,
                        unsigned char **rgb, unsigned char **alpha);

/* ---- Content stream of the signature appearance ----
 * Draws text (lines at "\n") with the Helvetica resource /Helv into a box of
 * w x h, after the image /Im0 of iw x ih pixels when image is non-zero. When
 * *length is positive, the *length bytes at *stream are drawing content used
 * in place of the Helvetica text (they are not taken over). On return *stream
 * holds the Flate-compressed stream (malloc'd, the caller frees it) and *length
 * its size. Returns 0. */
QS_API int prepare_visible_signature_stream(const char *text, int image, int w, int h, int iw, int ih,
                                            unsigned char **stream, int *length);

/* zlib compression of *length bytes (0: data is a NUL-terminated text). Returns
 * a malloc'd buffer with its size in *length, or NULL. */
QS_API unsigned char *flate_encode(const unsigned char *data, int *length);
/* The inverse of flate_encode; NULL when data is not one complete zlib stream. */
QS_API unsigned char *flate_decode(const unsigned char *data, int *length);

/* ---- TrueType text through libharu ----
 * A one-page PDF of W x H (held to 3..14400) that shows text (UTF-8, lines at
 * "\n") with the TrueType font file font in a box of height h; x, y and w are
 * not used. 0 with the malloc'd document in *pdf and its size in *length, or -1;
 * libharu failures are written to the debug log of config. */
QS_API int libharu_produce_document(SigningConfig *config, const char *text, const char *font, int W, int H,
                                    int x, int y, int w, int h, unsigned char **pdf, int *length);
/* libharu's error handler: writes the error numbers to the debug log of the
 * configuration in user_data and, while a document is being produced, returns
 * control to libharu_produce_document, which then fails. */
QS_API void error_handler(unsigned long error_no, unsigned long detail_no, void *user_data);
/* Takes the page content (decoded, into *content) and the six objects of the
 * composite font of a libharu document, numbered from *next and framed from
 * offset *offset (into *objects). numbers and offsets (6 slots used) receive
 * each object's number and offset; *offset, *next and *count advance past
 * them. The Type0 font is the last of them. Both buffers are malloc'd; the
 * caller frees them. 0, or -1 when the document does not have that shape. */
QS_API int qpdf_libharu_copy_contents_and_font_subset_objects(const unsigned char *pdf, int length, long *offset,
                                                              int *next, int *count, unsigned char **objects,
                                                              int *objects_length, int *numbers, long *offsets,
                                                              unsigned char **content, int *content_length);

QS_EXTERN_C_END

#endif
