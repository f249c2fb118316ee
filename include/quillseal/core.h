#ifndef QUILLSEAL_CORE_H
#define QUILLSEAL_CORE_H

#include <stdio.h>
#include <time.h>

#include <quillseal/config.h>
#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* ---- Message slot and diagnostics ----
 * mode 1 reports (the first report of an operation wins), mode 0 fetches into
 * a 256-byte buffer and re-arms reporting. */
QS_API void handle_error_message(char *message, int mode);
QS_API int handle_fopen_error_message(const char *path);
QS_API void handle_debug_message(SigningConfig *config, const char *text);
QS_API void get_debug_timestamp(time_t t, char *out);
/* out: at least 256 bytes */
QS_API int quillseal_version(char *out);

/* ---- Lifecycle ---- */
QS_API void pdfsigning_init(void);
QS_API void pdfsigning_init_cmd(void);
QS_API void pdfsigning_shutdown(void);

/* ---- One-shot signing ----
 * configuration: a key=value file path, "" for the default file, or JSON text. */
QS_API int sign(const char *input, const char *output, const char *location,
                const char *reason, const char *open_password, int visible,
                const char *title, const char *author, const char *subject,
                const char *keywords, const char *configuration, int timestamp,
                int certify);
QS_API int sign_internal(const char *input, const char *output, const char *location,
                         const char *reason, const char *open_password, int visible,
                         const char *title, const char *author, const char *subject,
                         const char *keywords, int timestamp, int certify,
                         SigningConfig *config);
QS_API int sign_io(FILE *input, FILE *output, const char *location, const char *reason,
                   int visible, const char *title, const char *author,
                   const char *subject, const char *keywords, int timestamp,
                   int certify, SigningConfig *config);
QS_API int sign_encrypt(const char *input, const char *output, const char *location,
                        const char *reason, const char *open_password, int visible,
                        const char *title, const char *author, const char *subject,
                        const char *keywords, int timestamp, int certify,
                        SigningConfig *config);

/* ---- Long-term validation ---- */
QS_API int ltv(const char *input, const char *output, const char *configuration);

/* ---- Verification of the newest signature ---- */
QS_API int verify(const char *input, const char *configuration);
QS_API int verify_internal(const char *input, SigningConfig *config);

QS_EXTERN_C_END

#endif
