// Owning handles for every C resource the library touches. Each alias pairs a
// handle type with the one call that releases it; nothing outside this header
// calls a *_free function directly.
#pragma once

#include <cstdio>
#include <memory>

#include <curl/curl.h>
#include <hpdf.h>
#include <json-c/json.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/ec.h>
#include <openssl/ess.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <openssl/provider.h>
#include <openssl/conf.h>
#include <openssl/store.h>
#include <openssl/ui.h>
// The ENGINE interface is deprecated in OpenSSL 3 but still the way to reach
// PKCS#11 devices through an engine object; only its two release calls are
// named here, and crypto/pkcs11_engine.cpp is the one user of the rest.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/engine.h>
#pragma GCC diagnostic pop
#include <png.h>
#include <locale.h>

#include <cstdlib>

#include <quillseal/crypto.h>


namespace qs {

template <typename T, void (*Release)(T *)>
struct CDeleter {
    void operator()(T *p) const noexcept {
        if (p) Release(p);
    }
};

template <typename T, void (*Release)(T *)>
using CHandle = std::unique_ptr<T, CDeleter<T, Release>>;

inline void close_file(FILE *f) { std::fclose(f); }
inline void free_bio_all(BIO *b) { BIO_free_all(b); }
inline void free_x509_stack(STACK_OF(X509) *s) { sk_X509_pop_free(s, X509_free); }
inline void free_x509_stack_shallow(STACK_OF(X509) *s) { sk_X509_free(s); }
inline void free_json(json_object *j) { json_object_put(j); }
inline void free_hpdf(HPDF_Doc d) { HPDF_Free(d); }
inline void free_c_buffer(void *p) { std::free(p); }
inline void free_openssl_buffer(unsigned char *p) { OPENSSL_free(p); }
inline void free_openssl_text(char *p) { OPENSSL_free(p); }
inline void unload_provider(OSSL_PROVIDER *p) { OSSL_PROVIDER_unload(p); }
inline void free_attribute_stack_shallow(STACK_OF(X509_ATTRIBUTE) *s) { sk_X509_ATTRIBUTE_free(s); }
inline void free_crl_stack(STACK_OF(X509_CRL) *s) { sk_X509_CRL_pop_free(s, X509_CRL_free); }
inline void free_x509_info_stack(STACK_OF(X509_INFO) *s) { sk_X509_INFO_pop_free(s, X509_INFO_free); }
inline void close_store(OSSL_STORE_CTX *s) { OSSL_STORE_close(s); }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// An engine's functional reference (from ENGINE_init) and its structural one.
inline void finish_engine(ENGINE *e) { ENGINE_finish(e); }
inline void free_engine(ENGINE *e) { ENGINE_free(e); }
#pragma GCC diagnostic pop
// libcurl is opened on first use, so its handles are released through the
// functions it was opened with; the loader defines these two.
void cleanup_curl(CURL *c);
void free_curl_list(curl_slist *l);

using FilePtr = CHandle<FILE, close_file>;
using BioPtr = CHandle<BIO, free_bio_all>;
using X509Ptr = CHandle<X509, X509_free>;
using X509StackPtr = CHandle<STACK_OF(X509), free_x509_stack>;
using X509StackViewPtr = CHandle<STACK_OF(X509), free_x509_stack_shallow>;
using X509NamePtr = CHandle<X509_NAME, X509_NAME_free>;
using X509StorePtr = CHandle<X509_STORE, X509_STORE_free>;
using EvpPkeyPtr = CHandle<EVP_PKEY, EVP_PKEY_free>;
using EvpMdCtxPtr = CHandle<EVP_MD_CTX, EVP_MD_CTX_free>;
using EvpPkeyCtxPtr = CHandle<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EcdsaSigPtr = CHandle<ECDSA_SIG, ECDSA_SIG_free>;
using EvpCipherCtxPtr = CHandle<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using Pkcs12Ptr = CHandle<PKCS12, PKCS12_free>;
using Pkcs7Ptr = CHandle<PKCS7, PKCS7_free>;
using CmsPtr = CHandle<CMS_ContentInfo, CMS_ContentInfo_free>;
using Asn1IntegerPtr = CHandle<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1ObjectPtr = CHandle<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1OctetStringPtr = CHandle<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1TypePtr = CHandle<ASN1_TYPE, ASN1_TYPE_free>;
using Asn1TimePtr = CHandle<ASN1_TIME, ASN1_TIME_free>;
using BignumPtr = CHandle<BIGNUM, BN_free>;
using OcspResponsePtr = CHandle<OCSP_RESPONSE, OCSP_RESPONSE_free>;
using OcspBasicPtr = CHandle<OCSP_BASICRESP, OCSP_BASICRESP_free>;
using OcspRequestPtr = CHandle<OCSP_REQUEST, OCSP_REQUEST_free>;
using OcspCertIdPtr = CHandle<OCSP_CERTID, OCSP_CERTID_free>;
using TsReqPtr = CHandle<TS_REQ, TS_REQ_free>;
using TsRespPtr = CHandle<TS_RESP, TS_RESP_free>;
using TsMsgImprintPtr = CHandle<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>;
using TsTstInfoPtr = CHandle<TS_TST_INFO, TS_TST_INFO_free>;
using TsVerifyCtxPtr = CHandle<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;
using X509AlgorPtr = CHandle<X509_ALGOR, X509_ALGOR_free>;
using X509CrlPtr = CHandle<X509_CRL, X509_CRL_free>;
using AuthorityInfoAccessPtr = CHandle<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free>;
using CrlDistPointsPtr = CHandle<CRL_DIST_POINTS, CRL_DIST_POINTS_free>;
using IssuingDistPointPtr = CHandle<ISSUING_DIST_POINT, ISSUING_DIST_POINT_free>;
using ExtendedKeyUsagePtr = CHandle<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using ProviderPtr = CHandle<OSSL_PROVIDER, unload_provider>;
using LibCtxPtr = CHandle<OSSL_LIB_CTX, OSSL_LIB_CTX_free>;
using ConfPtr = CHandle<CONF, NCONF_free>;
using StoreCtxPtr = CHandle<OSSL_STORE_CTX, close_store>;
using StoreInfoPtr = CHandle<OSSL_STORE_INFO, OSSL_STORE_INFO_free>;
using UiMethodPtr = CHandle<UI_METHOD, UI_destroy_method>;
using X509AttributeStackViewPtr = CHandle<STACK_OF(X509_ATTRIBUTE), free_attribute_stack_shallow>;
using EssSigningCertV2Ptr = CHandle<ESS_SIGNING_CERT_V2, ESS_SIGNING_CERT_V2_free>;
using X509CrlStackPtr = CHandle<STACK_OF(X509_CRL), free_crl_stack>;
using X509StoreCtxPtr = CHandle<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509InfoStackPtr = CHandle<STACK_OF(X509_INFO), free_x509_info_stack>;
using EngineFunctionalPtr = CHandle<ENGINE, finish_engine>;
using EngineStructuralPtr = CHandle<ENGINE, free_engine>;
using OpensslBufferPtr = CHandle<unsigned char, free_openssl_buffer>;
using OpensslTextPtr = CHandle<char, free_openssl_text>;
using CurlPtr = CHandle<CURL, cleanup_curl>;
using CurlListPtr = CHandle<curl_slist, free_curl_list>;
using JsonPtr = CHandle<json_object, free_json>;
using LtvDataPtr = CHandle<LTVData, free_LTVData>;
using HpdfDocPtr = std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, CDeleter<std::remove_pointer_t<HPDF_Doc>, free_hpdf>>;

// A malloc'd buffer handed over by one of the library's own C-style functions.
template <typename T>
using MallocPtr = std::unique_ptr<T, CDeleter<void, free_c_buffer>>;

// libpng keeps its read and info structs in one call's release.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngReader() = default;
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;
    ~PngReader() { png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr); }
};

// The response body an exchange collects through write_memory_callback,
// which grows its memory; the memory goes with the owner.
struct ResponseBufferOwner {
    HttpResponseBuffer buffer{};
    ResponseBufferOwner() = default;
    ResponseBufferOwner(const ResponseBufferOwner &) = delete;
    ResponseBufferOwner &operator=(const ResponseBufferOwner &) = delete;
    ~ResponseBufferOwner() { std::free(buffer.memory); }
};

// A POSIX locale object (the C locale for formatting without locale effects).
inline void free_locale(std::remove_pointer_t<locale_t> *l) { freelocale(l); }
using LocalePtr = CHandle<std::remove_pointer_t<locale_t>, free_locale>;

inline FilePtr open_file(const char *path, const char *mode) { return FilePtr(std::fopen(path, mode)); }

}  // namespace qs
