#ifndef QUILLSEAL_CRYPTO_H
#define QUILLSEAL_CRYPTO_H

#include <stdio.h>

#include <quillseal/config.h>
#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* ---- Placeholder and byte ranges ---- */
QS_API int calculate_byte_range(SigningConfig *config, int timestamp, int *N);
QS_API int update_contents(SigningConfig *config, FILE *output, long a, long b, long c, int N,
                           int timestamp);

/* ---- Signer certificate ----
 * subject: 512-byte buffer; serial and name: 256-byte buffers. */
QS_API int get_x509_subject_and_sn(int certfiledata, const char *certfile,
                                   const char *certpasswd, const char *signerpem,
                                   const char *certstore, char *subject, char *serial);
QS_API int get_x509_subject_name(const char *subject, char *name);

/* ---- Timestamp authority ---- */
QS_API int tsa_ok(SigningConfig *config, int timestamp);

/* ---- PKCS#11 engine ---- */
QS_API int pkcs11engine_register(SigningConfig *config);
QS_API void pkcs11engine_init(void);
QS_API void pkcs11engine_shutdown(void);

QS_EXTERN_C_END

#endif
