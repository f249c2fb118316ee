// The CMS SignedData that goes into /Contents: the encapsulated layout of
// "/adbe.pkcs7.sha1" and the detached layout with exactly its own signed
// attributes, handed out as lowercase hex text.
#include <cstring>
#include <memory>
#include <string>

#include <openssl/cms.h>
#include <openssl/err.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/openssl_errors.h"
#include "core/base/text.h"
#include "crypto/hex.h"
#include "crypto/keys/key_store.h"
#include "crypto/object_ids.h"
#include "crypto/signing/cades_signer.h"
#include "crypto/signing/cms_signer.h"
#include "crypto/signing/revocation_archival.h"
#include "crypto/signing/signed_attributes.h"
#include "crypto/timestamps/timestamp_token.h"

namespace qs {
namespace {

constexpr const char *kSha1Filter = "/adbe.pkcs7.sha1";
constexpr const char *kDetachedFilter = "/adbe.pkcs7.detached";
constexpr const char *kCadesFilter = "/ETSI.CAdES.detached";
constexpr const char *kRsaFilter = "/adbe.x509.rsa.sha1";

enum class Layout { Encapsulated, Detached, Cades, Refused };

// A PAdES baseline signature is made with SHA-2 only.
bool cades_hash(const std::string &hash) { return hash == "SHA256" || hash == "SHA384" || hash == "SHA512"; }

Layout choose_layout(const SigningConfig &config) {
    const std::string hash = config.hashalgo, filter = config.subfilter;
    if (is_encapsulated_layout(config)) return Layout::Encapsulated;
    if (filter == kDetachedFilter) return Layout::Detached;
    if (filter == kCadesFilter && cades_hash(hash)) return Layout::Cades;
    if (filter == kCadesFilter)
        report(format("The subfilter %s requires hash algorithm SHA256, SHA384 or SHA512! The hash algorithm "
                      "configured is %s...",
                      kCadesFilter, config.hashalgo));
    else if (filter == kSha1Filter)
        report(format("The subfilter %s requires hash algorithm SHA1! The hash algorithm configured is %s...",
                      kSha1Filter, config.hashalgo));
    else if (filter == kRsaFilter)
        report(format("Signatures for subFilter %s not supported yet...", kRsaFilter));
    else
        report(format("The subfilter %s is not consistent with the hash algorithm chosen or the hash provided!",
                      config.subfilter));
    return Layout::Refused;
}

// The SignerInfo digest of the detached layout; anything unnamed is SHA-1.
const EVP_MD *detached_digest(const char *hashalgo) {
    for (const char *name : {"SHA256", "SHA384", "SHA512", "SHA224"})
        if (std::strcmp(hashalgo, name) == 0) return EVP_get_digestbyname(name);
    return EVP_sha1();
}

// One SignedData whose encapsulated id-data content is the digest itself.
CmsPtr encapsulated(KeyMaterial &keys, STACK_OF(X509) *chain, BIO *data) {
    CmsPtr cms(CMS_sign(keys.cert.get(), keys.key.get(), chain, data, CMS_BINARY));
    if (!cms) report_openssl("Error in CMS_sign()...");
    return cms;
}

// A detached SignedData signed over messageDigest, contentType, the archived
// OCSP status when there is one, and signingTime. For a key held elsewhere
// the SignerInfo is left unsigned with to_sign the digest its key is to sign.
CmsPtr detached(SigningConfig *config, SignatureInputs &inputs, STACK_OF(X509) *chain, const unsigned char *digest,
                int length, std::string &to_sign) {
    KeyMaterial &keys = inputs.keys;
    CmsPtr cms(CMS_sign(nullptr, nullptr, chain, nullptr, CMS_PARTIAL | CMS_NOATTR | CMS_DETACHED));
    if (!cms) {
        report_openssl("Error in CMS_sign()...");
        return nullptr;
    }
    const EVP_MD *md = detached_digest(config->hashalgo);
    CMS_SignerInfo *si = CMS_add1_signer(cms.get(), keys.cert.get(), signer_info_key(keys), md,
                                         CMS_PARTIAL | CMS_NOATTR);
    if (!si) {
        report_openssl("Error adding signer to CMS structure...");
        return nullptr;
    }
    if (CMS_signed_add1_attr_by_NID(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest, length) != 1) {
        report_openssl("Error adding signed attribute message digest...");
        return nullptr;
    }
    if (CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                    CMS_get0_eContentType(cms.get()), -1) != 1) {
        report_openssl("Error adding signed attribute content type...");
        return nullptr;
    }
    // The signer's OCSP status, when it can be had; a revoked signer stops here.
    if (settle_archived_status(config, inputs) < 0 || add_revocation_attribute(config, inputs.ocsp_basic, si) < 0)
        return nullptr;
    // The signing time is added here by the library, as none is present yet;
    // for a key held elsewhere it is added before the attributes are hashed.
    const bool signed_here = keys.key ? CMS_SignerInfo_sign(si) == 1
                                      : add_signing_time(si) && signed_attributes_digest(si, md, to_sign);
    if (!signed_here) {
        report_openssl("Error signing SignerInfo structure...");
        return nullptr;
    }
    return cms;
}

int encode_hex(CMS_ContentInfo *cms, char **signature) {
    unsigned char *der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms, &der);
    OpensslBufferPtr owned(der);
    if (length <= 0) {
        report_openssl("Error encoding the CMS signature...");
        return -1;
    }
    *signature = malloc_text(lower_hex(der, static_cast<std::size_t>(length)));
    if (!*signature) {
        report("Out of memory for the signature text.");
        return -1;
    }
    return 0;
}

int begin_layout(SigningConfig *config, const unsigned char *digest, int length, SignatureInputs &inputs,
                 PendingSignature &pending) {
    if (!digest || length <= 0) {
        report("Error in BIO_write()...");
        return -1;
    }
    BioPtr data(BIO_new_mem_buf(digest, length));
    // Each certificate goes in once, whatever the chain file or the store repeats.
    X509StackViewPtr chain = chain_to_embed(inputs.keys.cert.get(), inputs.keys.chain.get());
    if (!data || !chain) {
        report("Out of memory for the certificate chain.");
        return -1;
    }
    pending.md = detached_digest(config->hashalgo);
    switch (choose_layout(*config)) {
        case Layout::Encapsulated: pending.cms = encapsulated(inputs.keys, chain.get(), data.get()); break;
        case Layout::Detached:
            pending.cms = detached(config, inputs, chain.get(), digest, length, pending.to_sign);
            break;
        case Layout::Cades:
            pending.cms = cades_detached(inputs.keys, chain.get(), pending.md, digest, length, pending.to_sign);
            break;
        case Layout::Refused: return -1;
    }
    if (!pending.cms) return -1;
    pending.signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(pending.cms.get()), 0);
    return 0;
}

}  // namespace

int check_signature_layout(const SigningConfig &config) {
    if (choose_layout(config) == Layout::Refused) return -1;
    // The encapsulated layout is signed by OpenSSL with the key in hand.
    if (is_encapsulated_layout(config) && is_remote_store(config)) {
        report(format("The subfilter %s is made with a key in this process only; choose %s or %s for a key in a "
                      "remote signing service.",
                      kSha1Filter, kDetachedFilter, kCadesFilter));
        return -1;
    }
    return 0;
}

bool is_pades_subfilter(const SigningConfig &config) { return std::strcmp(config.subfilter, kCadesFilter) == 0; }

bool is_encapsulated_layout(const SigningConfig &config) {
    return std::strcmp(config.hashalgo, "SHA1") == 0 && std::strcmp(config.subfilter, kSha1Filter) == 0;
}

bool archives_signer_status(const SigningConfig &config) {
    return std::strcmp(config.subfilter, kDetachedFilter) == 0;
}

int settle_archived_status(SigningConfig *config, SignatureInputs &inputs) {
    if (inputs.status_settled || !archives_signer_status(*config)) return 0;
    if (signer_ocsp_status(config, inputs.keys.cert.get(), inputs.keys.chain.get(), inputs.ocsp_basic) < 0)
        return -1;
    inputs.status_settled = true;
    return 0;
}

int begin_signature(SigningConfig *config, const unsigned char *digest, int length, SignatureInputs &inputs,
                    PendingSignature &pending) {
    register_signature_oids();
    pending = PendingSignature{};
    if (check_signature_layout(*config) < 0) return -1;
    const int rc = begin_layout(config, digest, length, inputs, pending);
    ERR_clear_error();
    return rc;
}

int sign_pending(SigningConfig *config, const KeyMaterial &keys, const std::vector<PendingSignature *> &batch) {
    std::vector<PendingSignature *> waiting;
    std::vector<std::string> digests;
    for (PendingSignature *pending : batch)
        if (!pending->to_sign.empty()) {
            waiting.push_back(pending);
            digests.push_back(pending->to_sign);
        }
    if (waiting.empty()) return 0;
    if (!keys.remote) {
        report("No key was loaded to sign with.");
        return -1;
    }
    std::vector<SignedValue> values;
    if (keys.remote->sign_digests(config, waiting.front()->md, digests, values) < 0) return -1;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        waiting[i]->value = i < values.size() ? values[i].value : std::string();
        waiting[i]->problem = i < values.size() ? values[i].problem : "No signature value came for this document.";
    }
    return 0;
}

int end_signature(SigningConfig *config, PendingSignature &pending, int timestamp, char **signature) {
    if (!pending.to_sign.empty()) {
        if (!pending.problem.empty() || pending.value.empty()) {
            report(pending.problem.empty() ? "No signature value came for this document." : pending.problem);
            return -1;
        }
        if (ASN1_STRING_set(CMS_SignerInfo_get0_signature(pending.signer), pending.value.data(),
                            static_cast<int>(pending.value.size())) != 1) {
            report("Error signing SignerInfo structure...");
            return -1;
        }
    }
    int rc = timestamp ? add_timestamp_token(config, pending.cms.get()) : 0;
    if (rc == 0) rc = encode_hex(pending.cms.get(), signature);
    ERR_clear_error();
    return rc;
}

int sign_digest(SigningConfig *config, const unsigned char *digest, int length, int timestamp,
                SignatureInputs *inputs, char **signature) {
    SignatureInputs loaded;
    if (!inputs) {
        if (load_signer_keys(config, loaded.keys) < 0) {
            ERR_clear_error();
            return -1;
        }
        inputs = &loaded;
    }
    PendingSignature pending;
    if (begin_signature(config, digest, length, *inputs, pending) < 0 ||
        sign_pending(config, inputs->keys, {&pending}) < 0)
        return -1;
    return end_signature(config, pending, timestamp, signature);
}

}  // namespace qs

extern "C" {

QS_API int sign_bytes(SigningConfig *config, const unsigned char *digest, int digest_length,
                      int timestamp, char **signature) {
    return qs::guarded([&]() -> int {
        if (!signature || !config) {
            qs::report("Missing configuration or place for the signature.");
            return -1;
        }
        *signature = nullptr;
        return qs::sign_digest(config, digest, digest_length, timestamp, nullptr, signature);
    });
}

QS_API int sign_hash(const char *configuration, const char *digest_hex, int timestamp, char **signature) {
    return qs::guarded([&]() -> int {
        if (signature) *signature = nullptr;
        SigningConfig *raw = nullptr;
        const int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc < 0) return rc;
        if (int ts = tsa_ok(config.get(), timestamp); ts < 0) return ts;
        const auto digest = qs::parse_hex_pairs(qs::view(digest_hex));
        if (!digest) {
            qs::report("The digest is not a hexadecimal text.");
            return -1;
        }
        return sign_bytes(config.get(), digest->data(), static_cast<int>(digest->size()), timestamp, signature);
    });
}

}  // extern "C"
