// Long-term-validation data of one signature: for each certificate a
// validator needs that is not self-signed, its OCSP response and its CRL,
// then the certificate itself. Those certificates are the signature's own,
// those of the timestamp tokens it carries (the authority's chain), those
// that the OCSP responses carry for their responders, and the issuers found
// for them elsewhere in the document or the configuration (a token often
// carries its authority's certificate alone). CRLs carried in the signature
// take the place of the fetched ones.
#include "crypto/revocation/ltv_data.h"

#include <stdexcept>

#include <openssl/err.h>
#include <openssl/pkcs7.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "crypto/der.h"
#include "crypto/hex.h"
#include "crypto/revocation/crl_fetch.h"
#include "crypto/revocation/ocsp_status.h"
#include "crypto/revocation/revocation_cache.h"
#include "crypto/revocation/revocation_checks.h"

namespace qs {
namespace {

constexpr const char *kNoIssuer =
    "The signature does not carry the certificate's issuer; its revocation data cannot be checked....";

// OCSP problems of one signature. Each goes to the debug log; the first is
// reported only when the signature's data fails for want of any source.
class Problems {
public:
    explicit Problems(SigningConfig *log) : log_(log) {}
    void note(const std::string &text) {
        if (text.empty()) return;
        handle_debug_message(log_, text.c_str());
        if (first_.empty()) first_ = text;
    }
    void report_first() const {
        if (!first_.empty()) report(first_);
    }

private:
    SigningConfig *log_;
    std::string first_;
};

// The certificate and CRL sets of a signed (or signed and enveloped) PKCS#7.
struct SignatureSets {
    STACK_OF(X509) *certs = nullptr;
    STACK_OF(X509_CRL) *crls = nullptr;
};

SignatureSets sets_of(PKCS7 *p7) {
    if (PKCS7_type_is_signed(p7) && p7->d.sign) return {p7->d.sign->cert, p7->d.sign->crl};
    if (PKCS7_type_is_signedAndEnveloped(p7) && p7->d.signed_and_enveloped)
        return {p7->d.signed_and_enveloped->cert, p7->d.signed_and_enveloped->crl};
    return {};
}

std::string vri_key_of(std::string_view contents) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(contents.data(), contents.size(), digest, &length, EVP_sha1(), nullptr) != 1)
        throw std::runtime_error("The SHA-1 digest of a signature could not be computed.");
    return upper_hex(digest, length);
}

// A cached complete response stands for cert only while it verifies for cert
// and its issuer and holds a current good status for it.
bool cached_response(const LtvContext &context, X509 *cert, X509 *issuer, const std::string &key, std::string &der) {
    std::string bytes;
    if (!read_fresh_file(context.cachedir, ocsp_cache_path(context.cachedir, key), key, kOcspFreshSeconds, bytes))
        return false;
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(bytes.data());
    OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &cursor, static_cast<long>(bytes.size())));
    OcspBasicPtr basic(response && OCSP_response_status(response.get()) == OCSP_RESPONSE_STATUS_SUCCESSFUL
                           ? OCSP_response_get1_basic(response.get())
                           : nullptr);
    if (!basic || !holds_good_status(basic.get(), cert, issuer)) return false;
    der = std::move(bytes);
    return true;
}

// The responder's reply to request, posted without a proxy.
bool ask_responder(const LtvContext &context, const std::string &url, const std::string &request, HttpReply &reply,
                   Problems &problems) {
    SigningConfig plain{};  // no proxy, no credentials
    const auto *body = reinterpret_cast<const unsigned char *>(request.data());
    const HttpRequest exchange = http_request_of_kind(plain, url, HttpKind::Ocsp, body, request.size());
    ToleratedFailure tolerated;
    if (http_exchange(exchange, context.limits, reply) == 0) return true;
    problems.note(tolerated.take());
    return false;
}

// How much a certificate's validation data is needed.
enum class Need {
    Required,  // the signer's chain: without an OCSP response or a CRL the signature fails
    IfNamed,   // a timestamp authority's chain: required where the certificate names a source
    Tolerated  // a responder's certificate: gathered where it can be, stored in any case
};

// The certificates of one signature's validation data, in the order they are
// gathered, with every certificate known to it for finding issuers, and the
// certificates the rest of the document and the configuration know besides.
class CertificateQueue {
public:
    explicit CertificateQueue(X509StackPtr elsewhere) : pool_(sk_X509_new_null()), elsewhere_(std::move(elsewhere)) {}
    // Queues cert unless it is self-signed or queued already; the pool keeps a reference.
    void add(X509 *cert, Need need) {
        if (!cert || !pool_) return;
        for (int i = 0; i < sk_X509_num(pool_.get()); ++i)
            if (X509_cmp(sk_X509_value(pool_.get(), i), cert) == 0) return;
        if (X509_up_ref(cert) != 1) return;
        if (!sk_X509_push(pool_.get(), cert)) {
            X509_free(cert);
            return;
        }
        if (!is_self_signed(cert)) queue_.push_back({cert, need});
    }
    void add_all(const STACK_OF(X509) *certs, Need need) {
        for (int i = 0; i < sk_X509_num(certs); ++i) add(sk_X509_value(certs, i), need);
    }
    bool next(X509 *&cert, Need &need) {
        if (done_ >= queue_.size()) return false;
        cert = queue_[done_].first;
        need = queue_[done_++].second;
        return true;
    }
    // The issuer of cert: among the signature's certificates, else among those
    // known elsewhere, where one found is queued for data of its own with need.
    X509 *issuer_of(X509 *cert, Need need) {
        if (X509 *issuer = find_issuer(cert, pool_.get())) return issuer;
        X509 *issuer = elsewhere_ ? find_issuer(cert, elsewhere_.get()) : nullptr;
        if (issuer) add(issuer, need);
        return issuer;
    }

private:
    X509StackPtr pool_;
    X509StackPtr elsewhere_;
    std::vector<std::pair<X509 *, Need>> queue_;
    std::size_t done_ = 0;
};

// The complete OCSP response for cert issued by issuer (none when the
// signature does not carry it), from the cache or its responder; false (with
// the problem noted) when there is none.
bool ocsp_response(const LtvContext &context, X509 *cert, X509 *issuer, const std::string &key, Problems &problems,
                   std::string &der) {
    if (issuer && cached_response(context, cert, issuer, key, der)) return true;
    std::string url;
    switch (ocsp_url(cert, url)) {
        case UrlLookup::Found: break;
        case UrlLookup::NoOcspEntry: return false;
        default: problems.note("Unable to retrieve OCSP URL...."); return false;
    }
    std::string request;
    if (!issuer || !ocsp_request(cert, issuer, request)) {
        problems.note("Unable to build OCSP request....");
        return false;
    }
    HttpReply reply;
    if (!ask_responder(context, url, request, reply, problems)) return false;
    const OcspReply judged = judge_reply(
        std::string_view(reinterpret_cast<const char *>(reply.body.data()), reply.body.size()), cert, issuer);
    ERR_clear_error();
    if (judged.verdict != OcspVerdict::Good) {
        if (judged.verdict == OcspVerdict::SignedRequestRequired) sign_ocsp_request();
        problems.note(verdict_text(judged.verdict));
        return false;
    }
    der = judged.response_der;
    if (judged.has_next_update)
        write_cache_file(context.cachedir, ocsp_cache_path(context.cachedir, key), key, der);
    return true;
}

// The certificates a complete OCSP response carries for its responder.
void queue_responder_certificates(const std::string &response_der, CertificateQueue &queue) {
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(response_der.data());
    OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &cursor, static_cast<long>(response_der.size())));
    OcspBasicPtr basic(response ? OCSP_response_get1_basic(response.get()) : nullptr);
    ERR_clear_error();
    if (basic) queue.add_all(OCSP_resp_get0_certs(basic.get()), Need::Tolerated);
}

// A responder certificate that its issuer exempts from checks needs no data of its own.
bool exempt_from_checks(X509 *cert) { return X509_get_ext_by_NID(cert, NID_id_pkix_OCSP_noCheck, -1) >= 0; }

// OCSP response, CRL and the certificate itself, for one certificate. Its
// issuer, found among the certificates known to the signature, is the one
// whose signature each of them must bear.
bool collect_certificate(const LtvContext &context, X509 *cert, Need need, CertificateQueue &queue,
                         Problems &problems, LtvSignatureData &data) {
    X509 *issuer = queue.issuer_of(cert, need);
    if (!issuer) problems.note(kNoIssuer);
    const std::string key = serial_key(cert);
    data.certs.push_back({key, der_of<X509, i2d_X509>(cert)});
    if (need == Need::Tolerated && exempt_from_checks(cert)) return true;
    std::string response;
    const bool has_response = ocsp_response(context, cert, issuer, key, problems, response);
    if (has_response) {
        queue_responder_certificates(response, queue);
        data.ocsps.push_back({key, std::move(response)});
    }

    std::string url;
    const CrlPoint point = crl_url(cert, url);
    if (point == CrlPoint::Missing) problems.note("Unable to retrieve CRL URL....");
    if (point == CrlPoint::NoHttp)
        problems.note(format("Unable to retrieve CRL URL.... [only LDAP is named: %s]", shown(url).c_str()));
    // Without its issuer no CRL can be checked, and so none is used.
    const bool crl_usable = point == CrlPoint::Found && issuer;
    if (!has_response && !crl_usable) {
        std::string ignored;
        const bool names_no_source = ocsp_url(cert, ignored) != UrlLookup::Found && point == CrlPoint::Missing;
        if (need == Need::IfNamed && names_no_source) {
            char subject[256] = "";
            X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
            handle_debug_message(context.log, format("%s names no OCSP responder or CRL distribution point; it is "
                                                     "stored without revocation data",
                                                     subject)
                                                  .c_str());
        }
        if (need == Need::Tolerated || (need == Need::IfNamed && names_no_source)) return true;
        problems.report_first();
        report("Failed to retrieve OCSP status and CRL file...");
        return false;
    }
    if (crl_usable) {
        std::string crl;
        bool fetched;
        if (need == Need::Tolerated) {
            ToleratedFailure tolerated;
            fetched = crl_of(url, issuer, context.cachedir, context.limits, crl);
            problems.note(tolerated.take());
        } else {
            fetched = crl_of(url, issuer, context.cachedir, context.limits, crl);
        }
        if (fetched) data.crls.push_back({crl_cache_key(url), std::move(crl)});
        if (!fetched && need != Need::Tolerated) return false;
    }
    return true;
}

// The timestamp tokens that the signers of p7 carry as their unsigned
// signature-time-stamp-token attribute.
std::vector<Pkcs7Ptr> tokens_of(PKCS7 *p7) {
    std::vector<Pkcs7Ptr> tokens;
    STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(p7);
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
        ASN1_TYPE *value = PKCS7_get_attribute(sk_PKCS7_SIGNER_INFO_value(signers, i), NID_id_smime_aa_timeStampToken);
        if (!value || value->type != V_ASN1_SEQUENCE) continue;
        const unsigned char *cursor = value->value.sequence->data;
        Pkcs7Ptr token(d2i_PKCS7(nullptr, &cursor, value->value.sequence->length));
        if (token) tokens.push_back(std::move(token));
    }
    ERR_clear_error();
    return tokens;
}

Pkcs7Ptr pkcs7_of(std::string_view der) {
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    Pkcs7Ptr p7(der.empty() ? nullptr : d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
    ERR_clear_error();
    return p7;
}

void push_copies(STACK_OF(X509) *into, const STACK_OF(X509) *certs) {
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509 *cert = sk_X509_value(certs, i);
        if (X509_up_ref(cert) == 1 && !sk_X509_push(into, cert)) X509_free(cert);
    }
}

// Every certificate known outside the signature: those of the document's
// signatures and their tokens, of its earlier store, and of the PEM files the
// context names (a file that cannot be read adds none).
X509StackPtr certificates_elsewhere(const DocumentMaterial &document, const LtvContext &context) {
    X509StackPtr known(sk_X509_new_null());
    if (!known) return known;
    for (const std::string &signature : document.signatures) {
        Pkcs7Ptr p7 = pkcs7_of(signature);
        if (!p7) continue;
        push_copies(known.get(), sets_of(p7.get()).certs);
        for (const Pkcs7Ptr &token : tokens_of(p7.get())) push_copies(known.get(), sets_of(token.get()).certs);
    }
    for (const std::string &der : document.store_certificates) {
        const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
        X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
        if (cert && sk_X509_push(known.get(), cert.get())) cert.release();
    }
    for (const std::string &pem : {context.capem, context.trustca}) {
        if (pem.empty()) continue;
        X509StackPtr chain(loadca(pem.c_str()));
        if (chain) push_copies(known.get(), chain.get());
    }
    ERR_clear_error();
    return known;
}

// The CRLs the signature carries that one of its certificates issued and signed.
std::vector<LtvItem> carried_crls(const SignatureSets &sets) {
    std::vector<LtvItem> crls;
    for (int i = 0; i < sk_X509_CRL_num(sets.crls); ++i) {
        X509_CRL *crl = sk_X509_CRL_value(sets.crls, i);
        for (int j = 0; j < sk_X509_num(sets.certs); ++j) {
            if (!crl_verifies(crl, sk_X509_value(sets.certs, j))) continue;
            crls.push_back({std::string(), der_of<X509_CRL, i2d_X509_CRL>(crl)});
            break;
        }
    }
    return crls;
}

}  // namespace

bool collect_ltv_data(std::string_view contents, const DocumentMaterial &document, const LtvContext &context,
                      LtvSignatureData &data) {
    data = LtvSignatureData{};
    if (refuse_unsafe_cache_directory(context.cachedir) < 0) return false;
    data.vri_key = vri_key_of(contents);
    Pkcs7Ptr p7 = pkcs7_of(contents);
    if (!p7) {
        report("d2i_PKCS7_bio() failed...");
        return false;
    }
    const SignatureSets sets = sets_of(p7.get());
    Problems problems(context.log);
    CertificateQueue queue(certificates_elsewhere(document, context));
    // A document timestamp's own certificates are an authority's chain.
    const bool document_timestamp = OBJ_obj2nid(p7->type) == NID_pkcs7_signed && p7->d.sign &&
                                     p7->d.sign->contents &&
                                     OBJ_obj2nid(p7->d.sign->contents->type) == NID_id_smime_ct_TSTInfo;
    queue.add_all(sets.certs, document_timestamp ? Need::IfNamed : Need::Required);
    for (const Pkcs7Ptr &token : tokens_of(p7.get())) queue.add_all(sets_of(token.get()).certs, Need::IfNamed);
    X509 *cert = nullptr;
    Need need = Need::Required;
    while (queue.next(cert, need))
        if (!collect_certificate(context, cert, need, queue, problems, data)) return false;
    // CRLs the signature carries, once checked, replace the fetched ones.
    std::vector<LtvItem> carried = carried_crls(sets);
    if (!carried.empty()) data.crls = std::move(carried);
    return true;
}

}  // namespace qs
