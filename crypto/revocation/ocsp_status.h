// The OCSP pieces both revocation paths share: the responder URL of a
// certificate, its issuer, the request, and the judgement of a reply.
#pragma once

#include <string>
#include <string_view>

#include <openssl/ocsp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "core/base/handles.h"

namespace qs {

// The serial number as uppercase hex ("-" first when negative): the cache key.
std::string serial_key(X509 *cert);

// Issuer name equal to subject name.
bool is_self_signed(X509 *cert);

// The text of a URI name when it is plain printable ASCII.
bool uri_text(const GENERAL_NAME *name, std::string &text);

enum class UrlLookup { Found, NoExtension, Unprintable, NoOcspEntry };

// The first OCSP access description of the Authority Information Access
// extension; the URL is its name from the first "http" on.
UrlLookup ocsp_url(X509 *cert, std::string &url);

// The certificate of candidates that issued cert: the one at position first
// when that one did, else the first in order that did; null when none.
X509 *find_issuer(X509 *cert, STACK_OF(X509) *candidates, int first = -1);

// An unsigned request without nonce for one certificate id (SHA-1 hashes of
// the issuer's name and key, and the serial number). False when it cannot be made.
bool ocsp_request(X509 *cert, X509 *issuer, std::string &der);

// Unverified: the response is not signed by the issuer or a responder it
// certified; whatever status it gives is not believed.
enum class OcspVerdict { Good, Revoked, NotGood, NoStatus, SignedRequestRequired, NotSuccessful, Unverified };

struct OcspReply {
    OcspVerdict verdict = OcspVerdict::NotSuccessful;
    std::string response_der;  // the OCSPResponse as received, without trailing bytes
    std::string basic_der;     // its BasicOCSPResponse, DER
    bool has_next_update = false;
};

// Decodes a reply about cert, checks who signed it and finds the status of
// cert in it.
OcspReply judge_reply(std::string_view body, X509 *cert, X509 *issuer);

// True when a BasicOCSPResponse that verifies for cert and its issuer holds a
// good status for cert whose next update has not passed: the test a cached
// response must pass before it stands for cert.
bool holds_good_status(OCSP_BASICRESP *basic, X509 *cert, X509 *issuer);

// The messages a reply's verdict is reported with.
const char *verdict_text(OcspVerdict verdict);

}  // namespace qs
