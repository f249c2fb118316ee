// The checks revocation data passes before it is archived, cached or stored:
// who signed it, and whom it is about.
#include "crypto/revocation/revocation_checks.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "core/base/handles.h"

namespace qs {
namespace {

// The response's signature verifies with signer's key, and the response names signer.
bool signed_by(OCSP_BASICRESP *basic, X509 *signer) {
    X509StackViewPtr candidates(sk_X509_new_null());
    // Only the given certificate is looked at: the response's own are not
    // trusted to be its signer, and no chain is built to a trust store.
    const unsigned long only_this_key = OCSP_NOINTERN | OCSP_NOVERIFY | OCSP_NOCHECKS;
    const bool ok = candidates && sk_X509_push(candidates.get(), signer) > 0 &&
                    OCSP_basic_verify(basic, candidates.get(), nullptr, only_this_key) > 0;
    ERR_clear_error();
    return ok;
}

// A responder certificate that issuer issued, and signed, for OCSP signing.
bool delegated_by(X509 *responder, X509 *issuer) {
    EVP_PKEY *issuer_key = X509_get0_pubkey(issuer);
    const bool ok = issuer_key && X509_check_issued(issuer, responder) == X509_V_OK &&
                    X509_verify(responder, issuer_key) == 1 &&
                    (X509_get_extension_flags(responder) & EXFLAG_XKUSAGE) != 0 &&
                    (X509_get_extended_key_usage(responder) & XKU_OCSP_SIGN) != 0;
    ERR_clear_error();
    return ok;
}

}  // namespace

bool ocsp_signed_for(OCSP_BASICRESP *basic, X509 *issuer) {
    if (!basic || !issuer) return false;
    if (signed_by(basic, issuer)) return true;
    const STACK_OF(X509) *carried = OCSP_resp_get0_certs(basic);
    for (int i = 0; i < sk_X509_num(carried); ++i) {
        X509 *responder = sk_X509_value(carried, i);
        if (delegated_by(responder, issuer) && signed_by(basic, responder)) return true;
    }
    return false;
}

OCSP_SINGLERESP *ocsp_entry_for(OCSP_BASICRESP *basic, X509 *cert, X509 *issuer) {
    for (int i = 0; basic && cert && issuer && i < OCSP_resp_count(basic); ++i) {
        OCSP_SINGLERESP *single = OCSP_resp_get0(basic, i);
        const OCSP_CERTID *id = single ? OCSP_SINGLERESP_get0_id(single) : nullptr;
        ASN1_OBJECT *digest_name = nullptr;
        if (!id || OCSP_id_get0_info(nullptr, &digest_name, nullptr, nullptr, const_cast<OCSP_CERTID *>(id)) != 1)
            continue;
        const EVP_MD *digest = EVP_get_digestbyobj(digest_name);
        OcspCertIdPtr expected(digest ? OCSP_cert_to_id(digest, cert, issuer) : nullptr);
        if (expected && OCSP_id_cmp(expected.get(), id) == 0) {
            ERR_clear_error();
            return single;
        }
    }
    ERR_clear_error();
    return nullptr;
}

bool ocsp_response_verifies(OCSP_BASICRESP *basic, X509 *cert, X509 *issuer) {
    return ocsp_entry_for(basic, cert, issuer) && ocsp_signed_for(basic, issuer);
}

bool crl_verifies(X509_CRL *crl, X509 *issuer) {
    EVP_PKEY *key = issuer ? X509_get0_pubkey(issuer) : nullptr;
    const bool ok = crl && key && X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_subject_name(issuer)) == 0 &&
                    X509_CRL_verify(crl, key) == 1;
    ERR_clear_error();
    return ok;
}

}  // namespace qs
