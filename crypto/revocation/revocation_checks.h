// Whether revocation data may stand for a certificate before anything trusts
// it: an OCSP response signed by the certificate's issuer, or by a responder
// the issuer certified for OCSP signing, that gives a status for that very
// certificate; a CRL that names the issuer and that the issuer signed.
#pragma once

#include <openssl/ocsp.h>
#include <openssl/x509.h>

namespace qs {

// True when the response's signature verifies with the key of issuer, or with
// the key of a certificate the response carries that issuer issued and signed
// for OCSP signing (extended key usage id-kp-OCSPSigning). The response must
// name its signer (responder id by name or by key).
bool ocsp_signed_for(OCSP_BASICRESP *basic, X509 *issuer);

// The response's entry for cert issued by issuer: its certificate id (issuer
// name hash, issuer key hash and serial number, in the digest the response
// chose) is the certificate's. Null when the response holds none.
OCSP_SINGLERESP *ocsp_entry_for(OCSP_BASICRESP *basic, X509 *cert, X509 *issuer);

// Both of the above: the response may stand for cert.
bool ocsp_response_verifies(OCSP_BASICRESP *basic, X509 *cert, X509 *issuer);

// True when the CRL names issuer as its issuer and issuer's key verifies its signature.
bool crl_verifies(X509_CRL *crl, X509 *issuer);

}  // namespace qs
