#include "crypto/signing/signed_attributes.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "core/base/handles.h"

namespace qs {

EVP_PKEY *signer_info_key(const KeyMaterial &keys) {
    return keys.key ? keys.key.get() : X509_get0_pubkey(keys.cert.get());
}

bool signed_attributes_der(CMS_SignerInfo *si, std::string &der) {
    X509AttributeStackViewPtr attributes(sk_X509_ATTRIBUTE_new_null());
    if (!attributes) return false;
    for (int i = 0; i < CMS_signed_get_attr_count(si); ++i)
        if (!sk_X509_ATTRIBUTE_push(attributes.get(), CMS_signed_get_attr(si, i))) return false;
    unsigned char *bytes = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE *>(attributes.get()), &bytes,
                                     ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
    OpensslBufferPtr owned(bytes);
    if (length <= 0) return false;
    der.assign(reinterpret_cast<const char *>(bytes), static_cast<std::size_t>(length));
    return true;
}

bool signed_attributes_digest(CMS_SignerInfo *si, const EVP_MD *md, std::string &digest) {
    std::string der;
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!signed_attributes_der(si, der) || EVP_Digest(der.data(), der.size(), out, &length, md, nullptr) != 1)
        return false;
    digest.assign(reinterpret_cast<const char *>(out), length);
    return true;
}

bool add_signing_time(CMS_SignerInfo *si) {
    Asn1TimePtr now(X509_gmtime_adj(nullptr, 0));
    return now && CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, now->type, now.get(), -1) == 1;
}

}  // namespace qs
