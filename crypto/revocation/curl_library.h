// libcurl, loaded the first time the network is used. Only timestamps, OCSP
// and CRLs reach the network, while loading and relocating libcurl with the
// twenty libraries it needs costs a process more than signing a small
// document; so the library does not link it and opens it on first use.
#pragma once

#include <curl/curl.h>

namespace qs {

// The libcurl functions the library calls, by their names without "curl_".
struct CurlFunctions {
    CURL *(*easy_init)();
    CURLcode (*easy_setopt)(CURL *, CURLoption, ...);
    CURLcode (*easy_perform)(CURL *);
    CURLcode (*easy_getinfo)(CURL *, CURLINFO, ...);
    void (*easy_reset)(CURL *);
    void (*easy_cleanup)(CURL *);
    const char *(*easy_strerror)(CURLcode);
    curl_slist *(*slist_append)(curl_slist *, const char *);
    void (*slist_free_all)(curl_slist *);
};

// libcurl's functions, loaded once per process on the first call. Null when
// libcurl cannot be loaded; the reason is reported then.
const CurlFunctions *curl_functions();

}  // namespace qs
