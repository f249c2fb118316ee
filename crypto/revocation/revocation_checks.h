// Whether revocation data may stand for a certificate before anything trusts
// it: an OCSP response signed by the certificate's issuer, or by a responder
// the issuer certified for OCSP signing, that gives a status for that very
// certificate; a CRL that names the issuer and that the issuer signed, for
// the certificates its issuing distribution point covers.
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

// What a CRL can say of a certificate.
enum class CrlScope {
    None,         // nothing: another issuer's, or its issuing distribution point leaves the certificate out
    RevokedOnly,  // a delta CRL, or one for some reasons only: an entry proves revocation, no entry proves nothing
    Full          // its issuer's complete list for the certificate: no entry proves the certificate not revoked
};

// The scope of a CRL for cert issued by issuer: the CRL must verify with
// issuer's key (crl_verifies), and its issuing distribution point must cover
// that kind of certificate (end entity or CA; never attribute certificates),
// name a distribution point the certificate names, if it names one, and not
// be indirect. A CRL with a critical extension this check does not know
// covers nothing.
CrlScope crl_scope(X509_CRL *crl, X509 *cert, X509 *issuer);

}  // namespace qs
