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
/* Opens the signing device that configuration names (the PKCS#11 engine or an
 * OpenSSL store) and logs in, so that the signings that follow in this process
 * use that session; nothing to do for a PKCS#12 store. A process forked from
 * one that opened a device calls pdfsigning_shutdown and pdfsigning_init_cmd
 * first: a device session never crosses fork. Returns 0, or -1 (reported) when
 * the configuration cannot be read or the device refuses. */
QS_API int pdfsigning_open_device(const char *configuration);

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
/* sign_encrypt: the signed output is also encrypted (AES-256) with
 * open_password as its user password and the configured permissions; the
 * signature is always a detached, approval one (certify is not used). */
QS_API int sign_encrypt(const char *input, const char *output, const char *location,
                        const char *reason, const char *open_password, int visible,
                        const char *title, const char *author, const char *subject,
                        const char *keywords, int timestamp, int certify,
                        SigningConfig *config);

/* ---- Many documents with one key ----
 * signing_batch_size: how many documents to hand sign_many at once for the
 * configured key, from the configuration alone: 1 for a key in this process
 * (sign them one by one), cscbatch (100 by default) for a key in a remote
 * signing service (certstore "CSC"), which signs a whole batch with one
 * authorisation and one signing exchange.
 * sign_many: signs count documents, inputs[i] into outputs[i], with the
 * other arguments as for sign (one configuration, read once). Each document
 * is prepared, then the key signs all their signatures together, then each
 * signature is written and its output kept. results[i] receives 0 or -1, and
 * messages[i] (256 bytes) the reason of a -1; for 0 it is empty, or holds
 * "New signature field: NAME" when the field that sigfield names was made
 * for the document rather than found in its form; a document that
 * fails leaves no output and does not stop the others. Returns 0 when every
 * document was signed, else -1 (a configuration that cannot be read gives
 * every document its message and result). Called between pdfsigning_init
 * (or pdfsigning_init_cmd) and pdfsigning_shutdown, a process logs into a
 * remote signing service and reads its credential once for all batches. */
QS_API int signing_batch_size(SigningConfig *config);
QS_API int sign_many(int count, const char *const *inputs, const char *const *outputs,
                     const char *location, const char *reason, const char *open_password,
                     int visible, const char *title, const char *author, const char *subject,
                     const char *keywords, const char *configuration, int timestamp,
                     int certify, int *results, char (*messages)[256]);

/* ---- Two-phase signing ----
 * The first phase writes the prepared output (the input followed by the
 * signature update with an unfilled placeholder) and hands out *digest: a
 * malloc'd NUL-terminated lowercase hex text of the digest of the signed byte
 * ranges under the configured hashalgo; the caller frees it. Nothing is handed
 * out and no output is left behind on failure. signer_name and serial are the
 * caller's certificate texts named in the signature field. The second phase
 * writes the caller's hex text of a DER CMS signature into the placeholder of
 * that prepared file; a prepared file whose second phase fails is removed. */
QS_API int sign_start(const char *input, const char *output, const char *location,
                      const char *reason, int visible, const char *title,
                      const char *author, const char *subject, const char *keywords,
                      const char *configuration, const char *signer_name,
                      const char *serial, int certify, char **digest);
/* prepare_only 1: the prepared file is written and no digest is computed
 * (digest may then be NULL); the sub-filter is set to /adbe.pkcs7.detached. */
QS_API int sign_start_io(FILE *input, FILE *output, const char *location,
                         const char *reason, int visible, const char *title,
                         const char *author, const char *subject, const char *keywords,
                         const char *signer_name, const char *serial, int timestamp,
                         int certify, char **digest, int prepare_only,
                         SigningConfig *config);
QS_API int sign_end(const char *prepared, const char *signature);
QS_API int sign_end_io(FILE *prepared, const char *signature);

/* ---- Whole-document rewrites through qpdf (files opened by the caller) ----
 * qpdf_encrypt writes an AES-256 (R6) encrypted copy of input to output; the
 * user password opens the copy (and the input, when that is encrypted). An
 * empty owner password is replaced by a random one, since an empty one would
 * open the copy with no password at all. accessibility, extraction and
 * metadata (encrypt the metadata) hold only for exactly 1; print: 0 full,
 * 1 low resolution, other none; modify: 0 all changes, 1 annotations and form
 * filling, 2 form filling, 3 document assembly, other none.
 * qpdf_process rewrites input without object streams.
 * Both return 0, or -1 with the reason in the message slot. */
QS_API int qpdf_encrypt(FILE *input, FILE *output, const char *owner_password,
                        const char *user_password, int accessibility, int extraction,
                        int print, int modify, int metadata);
QS_API int qpdf_process(FILE *input, const char *password, FILE *output);

/* ---- Long-term validation ----
 * ltv: a copy of the signed input with a Document Security Store appended as
 * a new incremental update (the earlier signatures stay valid). The
 * configuration (as for sign) gives cachedir, httptimeout and the debug log;
 * it needs no key store, and one that cannot be read is no failure. The
 * output may not be the input. 0, or -1 (reported, no output left).
 * ltv_io: the same on open files; the output is written from its start.
 * cachedir "" or NULL means "/tmp". */
QS_API int ltv(const char *input, const char *output, const char *configuration);
QS_API int ltv_io(FILE *input, FILE *output, const char *cachedir);

/* ---- Document timestamp ----
 * timestamp_document: a copy of input with one more incremental update: an
 * invisible signature field whose value is a document timestamp (/Type
 * /DocTimeStamp, /SubFilter /ETSI.RFC3161), its /Contents the RFC 3161
 * timestamp token that the authority tsaurl grants for the digest of its byte
 * ranges (the configured hashalgo; SHA-256 in place of SHA-1). Signed and
 * unsigned documents alike; encrypted ones are refused. The configuration
 * needs tsaurl but no key store. The output may not be the input. 0, or -1
 * (reported, no output left).
 * timestamp_document_io: the same on open files; the output is written from
 * its start (and truncated). */
QS_API int timestamp_document(const char *input, const char *output, const char *configuration);
QS_API int timestamp_document_io(FILE *input, FILE *output, SigningConfig *config);

/* ---- Document information ----
 * get_metadata: out (512 bytes) receives "pages|title|author|subject|keywords",
 * each text in UTF-8 and empty when absent; "|" inside a text is not escaped.
 * password: "" for an unencrypted document.
 * qpdf_get_metadata: title, author and subject are 256-byte buffers, keywords a
 * 512-byte buffer; texts too long are cut at a character boundary. On failure
 * *pages is -1, the texts are empty and the reason is in the message slot. */
QS_API int get_metadata(const char *path, const char *password, char *out);
QS_API void qpdf_get_metadata(FILE *file, const char *password, int *pages, char *title,
                              char *author, char *subject, char *keywords);

/* ---- Validation report ----
 * signature_report: every signature and document timestamp of input, oldest
 * first, judged for integrity, the updates after it, its signature
 * timestamp, the trust of its chain (anchors from the PEM file trustca of the
 * configuration, by default /etc/ssl/certs/ca-certificates.crt), its
 * revocation by the data the document carries, and its PAdES level. Nothing
 * is fetched. *report receives a malloc'd pretty-printed JSON text that the
 * caller frees: {"file", "valid", "signatures": [...]}. *valid (may be NULL)
 * is 1 when there is a signature and every one is intact, with only allowed
 * changes after it and a trusted signer. 0, or -1 (reported) when the
 * document cannot be read. The configuration needs no key store. */
QS_API int signature_report(const char *input, const char *configuration, char **report, int *valid);
/* The same with a configuration already read (NULL: the defaults). */
QS_API int signature_report_internal(const char *input, SigningConfig *config, char **report, int *valid);

/* ---- Verification of the newest signature ---- */
QS_API int verify(const char *input, const char *configuration);
QS_API int verify_internal(const char *input, SigningConfig *config);

QS_EXTERN_C_END

#endif
