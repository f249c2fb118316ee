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

// The full names of the certificate's CRL distribution points.
bool names_distribution_point(X509 *cert, const GENERAL_NAMES *names) {
    CrlDistPointsPtr points(
        static_cast<CRL_DIST_POINTS *>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
    for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT *point = sk_DIST_POINT_value(points.get(), i);
        if (!point->distpoint || point->distpoint->type != 0) continue;
        const GENERAL_NAMES *own = point->distpoint->name.fullname;
        for (int j = 0; j < sk_GENERAL_NAME_num(own); ++j)
            for (int k = 0; k < sk_GENERAL_NAME_num(names); ++k)
                if (GENERAL_NAME_cmp(sk_GENERAL_NAME_value(own, j), sk_GENERAL_NAME_value(names, k)) == 0) return true;
    }
    return false;
}

// Every critical extension of the CRL is one whose meaning the scope check knows.
bool critical_extensions_known(X509_CRL *crl) {
    const STACK_OF(X509_EXTENSION) *extensions = X509_CRL_get0_extensions(crl);
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
        X509_EXTENSION *extension = sk_X509_EXTENSION_value(extensions, i);
        const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
        if (X509_EXTENSION_get_critical(extension) && nid != NID_issuing_distribution_point && nid != NID_delta_crl)
            return false;
    }
    return true;
}

// The scope the issuing distribution point gives the CRL for cert, or Full when it has none.
CrlScope distribution_point_scope(X509_CRL *crl, X509 *cert) {
    int critical = 0;
    IssuingDistPointPtr point(
        static_cast<ISSUING_DIST_POINT *>(X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, &critical, nullptr)));
    if (!point) return critical == -1 ? CrlScope::Full : CrlScope::None;  // absent, or unreadable or repeated
    const bool ca = X509_check_ca(cert) != 0;
    if ((point->onlyuser && ca) || (point->onlyCA && !ca) || point->onlyattr || point->indirectCRL)
        return CrlScope::None;
    if (point->distpoint &&
        (point->distpoint->type != 0 || !names_distribution_point(cert, point->distpoint->name.fullname)))
        return CrlScope::None;
    return point->onlysomereasons ? CrlScope::RevokedOnly : CrlScope::Full;
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

CrlScope crl_scope(X509_CRL *crl, X509 *cert, X509 *issuer) {
    if (!cert || !crl_verifies(crl, issuer) || !critical_extensions_known(crl)) return CrlScope::None;
    int critical = 0;
    Asn1IntegerPtr delta(static_cast<ASN1_INTEGER *>(X509_CRL_get_ext_d2i(crl, NID_delta_crl, &critical, nullptr)));
    const bool is_delta = delta || critical != -1;
    const CrlScope scope = distribution_point_scope(crl, cert);
    ERR_clear_error();
    return scope == CrlScope::Full && is_delta ? CrlScope::RevokedOnly : scope;
}

}  // namespace qs
