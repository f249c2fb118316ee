// The CRL of a certificate: its distribution point and the CRL itself, from
// the cache or fetched with a plain GET.
#pragma once

#include <string>

#include <openssl/x509.h>

#include "crypto/revocation/http_exchange.h"

namespace qs {

enum class CrlPoint { Found, Missing, NoHttp };

// The URL of the first distribution point whose full name has an http or
// https URI, cut at the end of that name. NoHttp (url: the first LDAP URI)
// when the distribution points name only LDAP, which is not fetched.
CrlPoint crl_url(X509 *cert, std::string &url);

// The DER CRL at url that issuer signed and that names issuer: the cached one
// while it is fresh and passes that check, else fetched (and cached). False,
// reported, when the transfer fails, or the reply is no CRL or fails the check.
bool crl_of(const std::string &url, X509 *issuer, const std::string &cachedir, const HttpLimits &limits,
            std::string &der);

}  // namespace qs
