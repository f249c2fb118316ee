// OCSP requests and replies for one certificate, with the lookups they need.
#include "crypto/revocation/ocsp_status.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "crypto/der.h"
#include "crypto/revocation/revocation_checks.h"

namespace qs {
namespace {

// Seconds of clock difference allowed when judging a cached response's times.
constexpr long kClockSkew = 300;

bool is_current_good(OCSP_SINGLERESP *single) {
    int reason = 0;
    ASN1_GENERALIZEDTIME *revoked = nullptr, *this_update = nullptr, *next_update = nullptr;
    const int status = OCSP_single_get0_status(single, &reason, &revoked, &this_update, &next_update);
    const bool current = next_update && OCSP_check_validity(this_update, next_update, kClockSkew, -1) == 1;
    ERR_clear_error();
    return status == V_OCSP_CERTSTATUS_GOOD && current;
}

}  // namespace

bool uri_text(const GENERAL_NAME *name, std::string &text) {
    if (!name || name->type != GEN_URI || !name->d.uniformResourceIdentifier) return false;
    const ASN1_IA5STRING *uri = name->d.uniformResourceIdentifier;
    text.assign(reinterpret_cast<const char *>(ASN1_STRING_get0_data(uri)),
                static_cast<std::size_t>(ASN1_STRING_length(uri)));
    for (char c : text)
        if (c < 0x21 || c > 0x7e) return false;
    return !text.empty();
}

std::string serial_key(X509 *cert) {
    BignumPtr number(ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr));
    OpensslTextPtr hex(number ? BN_bn2hex(number.get()) : nullptr);
    return hex ? std::string(hex.get()) : std::string();
}

bool is_self_signed(X509 *cert) { return X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(cert)) == 0; }

UrlLookup ocsp_url(X509 *cert, std::string &url) {
    AuthorityInfoAccessPtr access(
        static_cast<AUTHORITY_INFO_ACCESS *>(X509_get_ext_d2i(cert, NID_info_access, nullptr, nullptr)));
    if (!access) return UrlLookup::NoExtension;
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
        const ACCESS_DESCRIPTION *entry = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        if (OBJ_obj2nid(entry->method) != NID_ad_OCSP) continue;
        std::string text;
        const std::size_t http = uri_text(entry->location, text) ? text.find("http") : std::string::npos;
        if (http == std::string::npos) return UrlLookup::Unprintable;
        url = text.substr(http);
        return UrlLookup::Found;
    }
    return UrlLookup::NoOcspEntry;
}

X509 *find_issuer(X509 *cert, STACK_OF(X509) *candidates, int first) {
    const int count = candidates ? sk_X509_num(candidates) : 0;
    const auto issued = [&](int i) {
        X509 *candidate = sk_X509_value(candidates, i);
        return candidate && candidate != cert && X509_check_issued(candidate, cert) == X509_V_OK;
    };
    if (first >= 0 && first < count && issued(first)) return sk_X509_value(candidates, first);
    for (int i = 0; i < count; ++i)
        if (issued(i)) return sk_X509_value(candidates, i);
    return nullptr;
}

bool ocsp_request(X509 *cert, X509 *issuer, std::string &der) {
    OcspRequestPtr request(OCSP_REQUEST_new());
    OcspCertIdPtr entry(OCSP_cert_to_id(EVP_sha1(), cert, issuer));
    if (!request || !entry || !OCSP_request_add0_id(request.get(), entry.get())) return false;
    entry.release();  // the request owns it now
    der = der_of<OCSP_REQUEST, i2d_OCSP_REQUEST>(request.get());
    return !der.empty();
}

OcspReply judge_reply(std::string_view body, X509 *cert, X509 *issuer) {
    OcspReply reply;
    const unsigned char *start = reinterpret_cast<const unsigned char *>(body.data());
    const unsigned char *cursor = start;
    OcspResponsePtr response(body.empty() ? nullptr
                                          : d2i_OCSP_RESPONSE(nullptr, &cursor, static_cast<long>(body.size())));
    if (!response) return reply;
    reply.response_der.assign(body.data(), static_cast<std::size_t>(cursor - start));
    const int status = OCSP_response_status(response.get());
    if (status == OCSP_RESPONSE_STATUS_SIGREQUIRED) {
        reply.verdict = OcspVerdict::SignedRequestRequired;
        return reply;
    }
    OcspBasicPtr basic(status == OCSP_RESPONSE_STATUS_SUCCESSFUL ? OCSP_response_get1_basic(response.get()) : nullptr);
    if (!basic) return reply;
    // Who signed it is settled first: an unverified "revoked" blocks nothing.
    if (!ocsp_signed_for(basic.get(), issuer)) {
        reply.verdict = OcspVerdict::Unverified;
        return reply;
    }
    OCSP_SINGLERESP *single = ocsp_entry_for(basic.get(), cert, issuer);
    if (!single) {
        reply.verdict = OcspVerdict::NoStatus;
        return reply;
    }
    int reason = 0;
    ASN1_GENERALIZEDTIME *revoked = nullptr, *this_update = nullptr, *next_update = nullptr;
    const int certificate_status = OCSP_single_get0_status(single, &reason, &revoked, &this_update, &next_update);
    reply.has_next_update = next_update != nullptr;
    if (certificate_status == V_OCSP_CERTSTATUS_REVOKED) {
        reply.verdict = OcspVerdict::Revoked;
    } else if (certificate_status != V_OCSP_CERTSTATUS_GOOD) {
        reply.verdict = OcspVerdict::NotGood;
    } else {
        reply.basic_der = der_of<OCSP_BASICRESP, i2d_OCSP_BASICRESP>(basic.get());
        if (reply.basic_der.empty()) return reply;
        reply.verdict = OcspVerdict::Good;
    }
    return reply;
}

bool holds_good_status(OCSP_BASICRESP *basic, X509 *cert, X509 *issuer) {
    if (!ocsp_signed_for(basic, issuer)) return false;
    OCSP_SINGLERESP *single = ocsp_entry_for(basic, cert, issuer);
    return single && is_current_good(single);
}

const char *verdict_text(OcspVerdict verdict) {
    switch (verdict) {
        case OcspVerdict::Revoked: return "OCSP response Certificate Status REVOKED!...";
        case OcspVerdict::NotGood: return "OCSP response Certificate Status NOT GOOD!...";
        case OcspVerdict::SignedRequestRequired: return "Cannot handle signed OCSP requests yet...";
        case OcspVerdict::Unverified:
            return "OCSP response not signed by the certificate's issuer or its OCSP responder...";
        default: return "OCSP response not successful...";
    }
}

}  // namespace qs
