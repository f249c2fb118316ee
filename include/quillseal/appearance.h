#ifndef QUILLSEAL_APPEARANCE_H
#define QUILLSEAL_APPEARANCE_H

#include <time.h>

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
 * rgb (3 bytes a pixel) and alpha (1 byte a pixel) are malloc'd; the caller frees them. */
QS_API int get_png_data(const char *path, int *width, int *height, int *bitsPerComponent,
                        unsigned char **rgb, unsigned char **alpha);

QS_EXTERN_C_END

#endif
