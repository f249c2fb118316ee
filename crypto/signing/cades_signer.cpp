// The PAdES baseline SignedData. OpenSSL 3.0 adds a signing-time attribute to
// every SignerInfo it signs itself, so the signed attributes are encoded and
// signed here: their DER as a SET OF (the form the signature covers), signed
// with the signer's key under the SignerInfo's digest.
#include "crypto/signing/cades_signer.h"

#include <string>

#include <openssl/cms.h>
#include <openssl/ess.h>
#include <openssl/pkcs7.h>

#include "core/base/guard.h"
#include "core/base/openssl_errors.h"
#include "crypto/der.h"
#include "crypto/signing/signed_attributes.h"

namespace qs {
namespace {

// signing-certificate-v2: the SHA-256 of the signer certificate with its
// issuer and serial number.
bool add_signing_certificate(CMS_SignerInfo *si, X509 *cert) {
    EssSigningCertV2Ptr value(OSSL_ESS_signing_cert_v2_new_init(EVP_sha256(), cert, nullptr, 1));
    const std::string der = der_of<ESS_SIGNING_CERT_V2, i2d_ESS_SIGNING_CERT_V2>(value.get());
    return !der.empty() && CMS_signed_add1_attr_by_NID(si, NID_id_smime_aa_signingCertificateV2, V_ASN1_SEQUENCE,
                                                       der.data(), static_cast<int>(der.size())) == 1;
}

bool add_signed_attributes(CMS_ContentInfo *cms, CMS_SignerInfo *si, X509 *cert, const unsigned char *digest,
                           int length) {
    if (CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT, CMS_get0_eContentType(cms), -1) != 1) {
        report_openssl("Error adding signed attribute content type...");
        return false;
    }
    if (CMS_signed_add1_attr_by_NID(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest, length) != 1) {
        report_openssl("Error adding signed attribute message digest...");
        return false;
    }
    if (!add_signing_certificate(si, cert)) {
        report_openssl("Error adding signed attribute signing certificate...");
        return false;
    }
    return true;
}

bool sign_signer_info(CMS_SignerInfo *si, EVP_PKEY *key, const EVP_MD *md) {
    std::string attributes;
    if (!signed_attributes_der(si, attributes)) return false;
    EvpMdCtxPtr context(EVP_MD_CTX_new());
    std::size_t length = 0;
    const auto *data = reinterpret_cast<const unsigned char *>(attributes.data());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, md, nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, data, attributes.size()) != 1)
        return false;
    std::string signature(length, '\0');
    auto *out = reinterpret_cast<unsigned char *>(signature.data());
    if (EVP_DigestSign(context.get(), out, &length, data, attributes.size()) != 1) return false;
    return ASN1_STRING_set(CMS_SignerInfo_get0_signature(si), out, static_cast<int>(length)) == 1;
}

}  // namespace

CmsPtr cades_detached(KeyMaterial &keys, STACK_OF(X509) *chain, const EVP_MD *md, const unsigned char *digest,
                      int length, std::string &to_sign) {
    CmsPtr cms(CMS_sign(nullptr, nullptr, chain, nullptr, CMS_PARTIAL | CMS_NOATTR | CMS_DETACHED));
    if (!cms) {
        report_openssl("Error in CMS_sign()...");
        return nullptr;
    }
    CMS_SignerInfo *si = CMS_add1_signer(cms.get(), keys.cert.get(), signer_info_key(keys), md,
                                         CMS_PARTIAL | CMS_NOATTR);
    if (!si) {
        report_openssl("Error adding signer to CMS structure...");
        return nullptr;
    }
    if (!add_signed_attributes(cms.get(), si, keys.cert.get(), digest, length)) return nullptr;
    // A key held elsewhere signs the attributes' digest; its value goes in later.
    const bool signed_here = keys.key ? sign_signer_info(si, keys.key.get(), md)
                                      : signed_attributes_digest(si, md, to_sign);
    if (!signed_here) {
        report_openssl("Error signing SignerInfo structure...");
        return nullptr;
    }
    return cms;
}

}  // namespace qs
