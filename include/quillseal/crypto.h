#ifndef QUILLSEAL_CRYPTO_H
#define QUILLSEAL_CRYPTO_H

#include <stddef.h>
#include <stdio.h>

#include <quillseal/config.h>
#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* OpenSSL objects cross this header as opaque structs (BIO, X509, TS_REQ, EVP_MD). */
struct bio_st;
struct x509_st;
struct TS_req_st;
struct evp_md_st;

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

/* ---- Timestamp authority ----
 * tsa_ok: -1 (reported) when timestamp is set and tsaurl is empty.
 * create_query: the RFC 3161 query (version 1, SHA-1 imprint of the digest
 * given as hex text, certificate requested, no nonce), or NULL; the caller
 * releases it with TS_REQ_free.
 * create_digest: the bytes spelt by the hex text (pairs, colons allowed
 * between them), which must be exactly as many as md produces. Returns their
 * number with *digest a malloc'd buffer the caller frees, or 0. */
QS_API int tsa_ok(SigningConfig *config, int timestamp);
QS_API struct TS_req_st *create_query(const char *digest_hex);
QS_API int create_digest(const char *digest_hex, const struct evp_md_st *md, unsigned char **digest);

/* ---- HTTP exchange ----
 * kind 0 posts a timestamp query to url, kind 1 an OCSP request. On success
 * (0) *response is a malloc'd copy of the response body (not NUL-terminated)
 * and *response_length its number of bytes; the caller frees it. Every
 * exchange has a connect time-out of 30 s and a total time-out of 120 s (the
 * configuration key httptimeout changes the total), refuses a body over
 * 64 MiB, follows no redirect and speaks only http and https. */
QS_API int handle_http_request(SigningConfig *config, const char *url, const unsigned char *body,
                               long length, int kind, unsigned char **response,
                               long *response_length);
/* The growing response body of an exchange: memory (malloc'd, owned by the
 * caller) holds size bytes and a NUL after them. A limit other than 0 caps
 * size: a chunk that would pass it sets exceeded and is refused. */
typedef struct HttpResponseBuffer {
    unsigned char *memory;
    size_t size;
    size_t limit;
    int exceeded;
} HttpResponseBuffer;
/* libcurl's write callback over an HttpResponseBuffer: returns the bytes
 * taken, or 0 (which aborts the transfer) when memory runs out or the limit
 * would be passed. */
QS_API size_t write_memory_callback(char *chunk, size_t size, size_t count, void *buffer);

/* ---- Revocation data ----
 * Revocation data is cached in cachedir: "quillseal-ocsp-basic-<serial>.der"
 * (the signer's BasicOCSPResponse), "quillseal-ocsp-<serial>.der" (complete
 * OCSP responses for LTV data), "quillseal-crl-<SHA-1 of the URL>.der" and
 * the fetch-time database "quillseal-cache.db" (a JSON object of key and
 * fetch time in seconds since the epoch). OCSP responses are used for an
 * hour, CRLs for a day.
 *
 * get_ocsp_data: the signer's OCSP status (from the configured key store) as
 * a malloc'd DER BasicOCSPResponse the caller frees. 0 with *der NULL and
 * *length 0 when no status can be had (self-signed, no responder, a
 * responder that fails); -1 (reported) for a key-store failure or a status
 * that is revoked or not good. */
QS_API int get_ocsp_data(SigningConfig *config, unsigned char **der, long *length);
/* The signed attribute value revocationInfoArchival around that response
 * (malloc'd DER, the caller frees it); results as get_ocsp_data. */
QS_API int get_revocation_info_archival(SigningConfig *config, unsigned char **der, long *length);
/* Writes a constructed header of tag in class xclass with the definite
 * length of the length bytes given, then the bytes, at *out and moves *out
 * past them. Returns the total size; with out or *out NULL only the size. */
QS_API int my_i2d_ASN1_bytes(const unsigned char *bytes, int length, unsigned char **out, int tag,
                             int xclass);
/* Signed OCSP requests are not supported; this does nothing. */
QS_API void sign_ocsp_request(void);
/* The fetch-time database of cachedir: value -1 looks key up (0 when absent);
 * any positive value is stored under key and returned. */
QS_API long checkDataBase(const char *key, long value, const char *cachedir);

/* The long-term-validation data of one signature: the certificates of the
 * signature that are not self-signed, with their OCSP responses and CRLs.
 * Names: the serial number's uppercase hex for certificates and OCSP
 * responses, the uppercase hex SHA-1 of the URL for fetched CRLs (NULL for a
 * CRL carried in the signature). Unused pointers are NULL. */
#define LTV_DATA_ITEMS 10
typedef struct LTVData {
    char vri_key[41]; /* uppercase hex SHA-1 of the signature's /Contents bytes */
    int cert_count;
    int crl_count;
    int ocsp_count;
    int cert_len[LTV_DATA_ITEMS];
    unsigned char *cert_der[LTV_DATA_ITEMS];
    char *cert_name[LTV_DATA_ITEMS];
    int crl_len[LTV_DATA_ITEMS];
    unsigned char *crl_der[LTV_DATA_ITEMS];
    char *crl_name[LTV_DATA_ITEMS];
    int ocsp_len[LTV_DATA_ITEMS];
    unsigned char *ocsp_der[LTV_DATA_ITEMS];
    char *ocsp_name[LTV_DATA_ITEMS];
} LTVData;
/* The data of the signature whose /Contents bytes (DER PKCS#7, trailing
 * bytes ignored) are given, or NULL (reported). More than LTV_DATA_ITEMS
 * items of one kind are refused. The record and everything in it are
 * malloc'd; free_LTVData releases them all (NULL is ignored). */
QS_API LTVData *getLTVData(const unsigned char *contents, int length, const char *cachedir);
QS_API void free_LTVData(LTVData *data);

/* ---- PKCS#11 engine ----
 * pkcs11engine_register loads the engine object config->engine and points it
 * at the module config->library with config->pin (an empty PIN is not sent);
 * 0 when it is (or already was, with these very settings) ready, -1 otherwise
 * (written to the debug log only; the caller reports). Keys are then loaded by
 * config->p11key. An engine loaded with another engine, module, key reference
 * or PIN is released and loaded again, so that a device session logged in for
 * one configuration never signs for another.
 * pkcs11engine_init registers it when the default configuration file names a
 * PKCS#11 device (pdfsigning_init calls it); pkcs11engine_shutdown releases it
 * (pdfsigning_shutdown calls it), and a later registration loads it again. */
QS_API int pkcs11engine_register(SigningConfig *config);
QS_API void pkcs11engine_init(void);
QS_API void pkcs11engine_shutdown(void);

QS_EXTERN_C_END

#endif
