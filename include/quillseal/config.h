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
} SigningConfig;

/* Record lifecycle and the readers. read_config always stores a new record in
 * *out (on failure too); the caller releases it with free_config.
 * Results: 0, -1, or -11 (incomplete PKCS#11 settings). */
QS_API SigningConfig *init_config(const char *unused);
QS_API void free_config(SigningConfig *config);
QS_API int read_config(const char *configuration, SigningConfig **out);

/* Stored password form: out must hold 256 bytes. */
QS_API int encrypt_password(const char *password, char *out);
QS_API int decrypt_password(const char *stored, char *out);

QS_EXTERN_C_END

#endif
