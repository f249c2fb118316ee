// Long-term-validation data of one signature: for each certificate it carries
// that is not self-signed, its OCSP response and its CRL, then the
// certificate itself. CRLs carried in the signature take the place of the
// fetched ones.
#include "crypto/ltv_data.h"

#include <stdexcept>

#include <openssl/err.h>
#include <openssl/pkcs7.h>

#include <quillseal/quillseal.h>

#include "core/guard.h"
#include "core/handles.h"
#include "core/text.h"
#include "crypto/crl_fetch.h"
#include "crypto/der.h"
#include "crypto/hex.h"
#include "crypto/ocsp_status.h"
#include "crypto/revocation_cache.h"

namespace qs {
namespace {

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

// A cached complete response stands for cert only while it holds a current good status for it.
bool cached_response(const LtvContext &context, X509 *cert, const std::string &key, std::string &der) {
    std::string bytes;
    if (!read_fresh_file(context.cachedir, ocsp_cache_path(context.cachedir, key), key, kOcspFreshSeconds, bytes))
        return false;
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(bytes.data());
    OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &cursor, static_cast<long>(bytes.size())));
    OcspBasicPtr basic(response && OCSP_response_status(response.get()) == OCSP_RESPONSE_STATUS_SUCCESSFUL
                           ? OCSP_response_get1_basic(response.get())
                           : nullptr);
    if (!basic || !holds_good_status(basic.get(), cert)) return false;
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

// The complete OCSP response for the certificate at index of certs, from the
// cache or its responder; false (with the problem noted) when there is none.
bool ocsp_response(const LtvContext &context, STACK_OF(X509) *certs, int index, const std::string &key,
                   Problems &problems, std::string &der) {
    X509 *cert = sk_X509_value(certs, index);
    if (cached_response(context, cert, key, der)) return true;
    std::string url;
    switch (ocsp_url(cert, url)) {
        case UrlLookup::Found: break;
        case UrlLookup::NoOcspEntry: return false;
        default: problems.note("Unable to retrieve OCSP URL...."); return false;
    }
    // The issuer is most often the certificate next to it.
    const int neighbour = index + 1 < sk_X509_num(certs) ? index + 1 : index - 1;
    X509 *issuer = find_issuer(cert, certs, neighbour);
    std::string request;
    OcspCertIdPtr id;
    if (!issuer || !ocsp_request(cert, issuer, request, id)) {
        problems.note("Unable to build OCSP request....");
        return false;
    }
    HttpReply reply;
    if (!ask_responder(context, url, request, reply, problems)) return false;
    const OcspReply judged =
        judge_reply(std::string_view(reinterpret_cast<const char *>(reply.body.data()), reply.body.size()), id.get());
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

// OCSP response, CRL and the certificate itself, for one certificate.
bool collect_certificate(const LtvContext &context, STACK_OF(X509) *certs, int index, Problems &problems,
                         LtvSignatureData &data) {
    X509 *cert = sk_X509_value(certs, index);
    const std::string key = serial_key(cert);
    std::string response;
    const bool has_response = ocsp_response(context, certs, index, key, problems, response);
    if (has_response) data.ocsps.push_back({key, std::move(response)});

    std::string url;
    const CrlPoint point = crl_url(cert, url);
    if (point == CrlPoint::Missing) problems.note("Unable to retrieve CRL URL....");
    if (point == CrlPoint::NoHttp)
        problems.note(format("Unable to retrieve CRL URL.... [only LDAP is named: %s]", shown(url).c_str()));
    if (!has_response && point != CrlPoint::Found) {
        problems.report_first();
        report("Failed to retrieve OCSP status and CRL file...");
        return false;
    }
    if (point == CrlPoint::Found) {
        std::string crl;
        if (!crl_of(url, context.cachedir, context.limits, crl)) return false;
        data.crls.push_back({crl_cache_key(url), std::move(crl)});
    }
    data.certs.push_back({key, der_of<X509, i2d_X509>(cert)});
    return true;
}

}  // namespace

bool collect_ltv_data(std::string_view contents, const LtvContext &context, LtvSignatureData &data) {
    data = LtvSignatureData{};
    data.vri_key = vri_key_of(contents);
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(contents.data());
    Pkcs7Ptr p7(contents.empty() ? nullptr : d2i_PKCS7(nullptr, &cursor, static_cast<long>(contents.size())));
    ERR_clear_error();
    if (!p7) {
        report("d2i_PKCS7_bio() failed...");
        return false;
    }
    const SignatureSets sets = sets_of(p7.get());
    Problems problems(context.log);
    for (int i = 0; i < sk_X509_num(sets.certs); ++i) {
        if (is_self_signed(sk_X509_value(sets.certs, i))) continue;
        if (!collect_certificate(context, sets.certs, i, problems, data)) return false;
    }
    // CRLs the signature carries replace the fetched ones.
    if (sk_X509_CRL_num(sets.crls) > 0) {
        data.crls.clear();
        for (int i = 0; i < sk_X509_CRL_num(sets.crls); ++i)
            data.crls.push_back({std::string(), der_of<X509_CRL, i2d_X509_CRL>(sk_X509_CRL_value(sets.crls, i))});
    }
    return true;
}

}  // namespace qs
