#ifndef QUILLSEAL_CRYPTO_H
#define QUILLSEAL_CRYPTO_H

#include <stdio.h>

#include <quillseal/config.h>
#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* OpenSSL objects cross this header as opaque structs (BIO, X509). */
struct bio_st;
struct x509_st;

/* ---- Digests ----
 * name: an OpenSSL digest name ("SHA1", "SHA224", "SHA256", "SHA384", "SHA512", ...).
 * *digest: malloc'd 512-byte buffer holding *digest_length bytes; the caller frees it. */
QS_API int message_digest(const char *name, const unsigned char *data, long length,
                          unsigned char **digest, unsigned int *digest_length);

/* ---- CMS signature ----
 * *signature: malloc'd NUL-terminated lowercase hex text of the DER SignedData;
 * the caller frees it. Nothing is handed out on failure. */
QS_API int sign_bytes(SigningConfig *config, const unsigned char *digest, int digest_length,
                      int timestamp, char **signature);
/* configuration: a key=value file path, "" for the default file, or JSON text;
 * digest_hex: the digest as hex text, two characters per byte. */
QS_API int sign_hash(const char *configuration, const char *digest_hex, int timestamp,
                     char **signature);

/* ---- Placeholder and byte ranges ----
 * The signed file holds /ByteRange [0 a b c]: a is the offset of the
 * placeholder's "<", b the offset just after its ">", c the length of the rest. */
QS_API int calculate_byte_range(SigningConfig *config, int timestamp, int *N);
/* *buffer: malloc'd copy of bytes [0, a) followed by [b, b + c); the caller frees it. */
QS_API int get_external_range(FILE *file, long a, long b, long c, unsigned char **buffer,
                              long *length);
/* *buffer: malloc'd NUL-terminated text of the b - a - 2 digits between "<" (at a)
 * and ">" (at b - 1); the caller frees it. */
QS_API int get_internal_range(FILE *file, long a, long b, char **buffer, long *length);
QS_API int update_contents(SigningConfig *config, FILE *output, long a, long b, long c, int N,
                           int timestamp);
/* Reports the extrarange advice for a signature text that was excess digits too long. */
QS_API void generate_extra_range_message(long excess);
/* range: four numbers of the first signed field's /ByteRange; *object_number:
 * the object number of its signature dictionary. password: "" when unencrypted. */
QS_API int qpdf_get_byte_range(FILE *file, const char *password, long range[4],
                               int *object_number);
/* malloc'd NUL-terminated UPPERCASE hex text of 2 * length characters; the
 * caller frees it. *hex_length (when not NULL) receives 2 * length. */
QS_API char *convertBinToHex(const unsigned char *bytes, long length, long *hex_length);

/* ---- Signer certificate ----
 * subject: 512-byte buffer; serial, name and value: 256-byte buffers.
 * The get_signer_info family hands out malloc'd 256-byte name and serial
 * buffers; the caller frees them. */
QS_API int get_signer_info(const char *configuration, char **name, char **serial);
QS_API int get_signer_info_internal(SigningConfig *config, char **name, char **serial);
QS_API int get_signer_info_from_pem_certificate(const char *pem, char **name, char **serial);
QS_API int get_x509_subject_and_sn(int certfiledata, const char *certfile,
                                   const char *certpasswd, const char *signerpem,
                                   const char *certstore, char *subject, char *serial);
QS_API int get_x509_subject_and_sn_from_openssl_cert(struct x509_st *certificate,
                                                     char *subject, char *serial);
QS_API int get_x509_subject_name(const char *subject, char *name);
QS_API int get_x509_subject_component(const char *subject, char *value, const char *name);

/* ---- Certificate chains ----
 * Every certificate of a PEM file, in file order (a STACK_OF(X509) the caller
 * releases with sk_X509_pop_free), or NULL. */
QS_API struct stack_st_X509 *loadca(const char *path);
/* OpenSSL diagnostics of the chain loader and the timestamp exchange; NULL
 * (the default) drops them. A host program may set it. */
QS_API extern struct bio_st *bio_err;

/* ---- Timestamp authority ---- */
QS_API int tsa_ok(SigningConfig *config, int timestamp);

/* ---- PKCS#11 engine ---- */
QS_API int pkcs11engine_register(SigningConfig *config);
QS_API void pkcs11engine_init(void);
QS_API void pkcs11engine_shutdown(void);

QS_EXTERN_C_END

#endif
