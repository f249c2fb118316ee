#ifndef QUILLSEAL_CONFIG_H
#define QUILLSEAL_CONFIG_H

#include <quillseal/export.h>

QS_EXTERN_C_BEGIN

/* The settings of one operation. Texts are NUL-terminated; an empty text means
 * "not set". The record and its certfile text belong to the caller of
 * read_config, who releases both with free_config. */
typedef struct SigningConfig {
    int certfiledata;      /* 1: certfile holds base64 PKCS#12 data; 0: a path */
    char *certfile;        /* any length; NULL until set */
    char certpasswd[256];
    char sigrect[256];
    char sigimage[256];
    char tsaurl[256];
    char sigpage[256];
    char pin[256];
    char signerpem[256];
    char capem[256];
    char engine[256];
    char certstore[256];
    char library[256];
    char extrarange[256];
    char sigtext[256];
    char tsacert[256];
    char tsauser[256];
    char tsapasswd[256];
    char hashalgo[256];
    char appname[256];
    char sigcontact[256];
    char subfilter[256];
    char conffile[256];
    char p11key[512];
    char p11url[512];
    char usinggui[256];
    char cachedir[256];
    char sigfont[256];
    char sigdateformat[256];
    char proxyprotocol[256];
    char proxyhost[256];
    char debug[256];
    char logfile[256];
    char encpermpwd[256];
    char encpermprint[256];
    char encpermchange[256];
    char encpermcopy[256];
    char encpermaccess[256];
    char encmetadata[256];
    char cryptolib[256];
    char httptimeout[256]; /* total time-out of a network exchange, in seconds */
    char trustca[256];     /* PEM file of the trust anchors a validation report builds chains to */
    /* certstore "OPENSSL STORE": a key opened through OpenSSL's store interface */
    char keyuri[512];         /* URI of the private key, e.g. pkcs11:token=t;object=o;type=private */
    char certuri[512];        /* URI of the signer's certificate; empty: the key's store, or signerpem */
    char provider[256];       /* provider loaded before the URIs are opened (a name or a module path) */
    char providermodule[256]; /* the PKCS#11 module that provider drives */
    char netconcurrency[256]; /* most network requests of a directory run in flight at once (32) */
    /* A key held by a remote signing service (certstore "CSC"). */
    char cscurl[256];         /* the service's base URL, ending in /csc/v2 */
    char csccredential[256];  /* the credential ID; empty: the first the service lists */
    char csctoken[4096];      /* bearer access token, held decrypted */
    char cscuser[256];        /* user name for the service's login (HTTP basic authentication) */
    char cscpasswd[256];      /* its password, held decrypted */
    char cscpin[256];         /* the credential's PIN for each authorisation, held decrypted */
    char cscbatch[256];       /* most documents signed with one authorisation; default 100 */
    char sigfield[256];    /* fully qualified name of the signature field to sign in (made when missing) */
    char siglock[256];     /* fields the signature locks: "all", "include:a,b" or "exclude:a,b" */
} SigningConfig;

/* Record lifecycle. init_config returns a new record (every text empty,
 * certfile NULL, certfiledata 0), or NULL when memory runs out; its argument
 * is not used. free_config releases certfile and the record; NULL is ignored. */
QS_API SigningConfig *init_config(const char *unused);
QS_API void free_config(SigningConfig *config);

/* The one entry point of every operation: configuration is the path of a
 * key=value file, an empty text (the default file) or a JSON text. *out always
 * receives the new record (on failure too; NULL only when memory runs out),
 * which the caller releases with free_config.
 * Results: 0; -1 (file not readable, PKCS#12 entries missing, certstore
 * missing or invalid, a secret whose source is missing or refused); -11
 * (incomplete PKCS#11 or OpenSSL store settings). */
QS_API int read_config(const char *configuration, SigningConfig **out);

/* ---- key=value file ("/usr/local/quillseal/quillseal.conf" by default) ----
 * read_conf_file: path must be a writable buffer of 256 bytes; an empty path
 * receives the default path first. Returns 0, or -1 (reported) when the file
 * cannot be read. */
QS_API int read_conf_file(char *path, SigningConfig *config);
/* Stores the value of key (for example "certstore=") from line into field
 * (256 bytes) when the key occurs in the line and the field is empty.
 * Returns 0 when it stored a value, else -1. */
QS_API int read_conf_file_line(const char *line, const char *key, char *field);
/* Looks up one key in a key=value file (empty path: the default file) and
 * copies its value into out (256 bytes); nothing is decrypted. Returns 0, or
 * -1 when the file cannot be read or no line holds the key. */
QS_API int read_conf_file_entry(const char *path, const char *key, char *out);
/* Copies in to out (room for strlen(in) + 1 bytes); a backslash followed by a
 * backslash or a colon is dropped and the character after it kept as it is. */
QS_API void removeEscapeCharacters(const char *in, char *out);
/* Normalises a sub-filter name in place (256-byte field) to one of
 * "/adbe.pkcs7.sha1", "/adbe.pkcs7.detached", "/adbe.x509.rsa.sha1" and
 * "/ETSI.CAdES.detached" (a PAdES baseline signature); anything else becomes
 * "/adbe.pkcs7.detached". Returns 0. */
QS_API int validate_sub_filter(char *subfilter);

/* ---- JSON configuration ----
 * read_conf_json: a text holding "{" is parsed and its string members fill
 * the record; any other text is taken as the key=value file path (conffile).
 * Returns 0, or -1 (reported) when a secret names a source that is missing or
 * refused. read_conf_json_entry copies the string member name into out
 * (256 bytes); returns 0, or -1 when it is missing or not a string. */
QS_API int read_conf_json(const char *configuration, SigningConfig *config);
QS_API int read_conf_json_entry(const char *json, const char *name, char *out);

/* ---- Stored password form (lowercase hex of the DES-EDE3 ciphertext) ----
 * encrypt_password: password of at most 255 bytes; out must hold
 * 16 * (strlen(password) / 8 + 1) + 1 bytes, 513 for the longest password.
 * Returns 0, or -1 (reported, out emptied) for a longer or missing password.
 * decrypt_password: out must hold 256 bytes; returns 0. */
QS_API int encrypt_password(const char *password, char *out);
QS_API int decrypt_password(const char *stored, char *out);

QS_EXTERN_C_END

#endif
