#include "crypto/trust/chain_trust.h"

#include <openssl/err.h>
#include <openssl/ocsp.h>
#include <openssl/x509v3.h>

#include "core/base/text.h"
#include "crypto/der.h"
#include "crypto/revocation/revocation_checks.h"

namespace qs {
namespace {

// The system's anchors, one file each named by subject hash: the certificates
// of /etc/ssl/certs/ca-certificates.crt.
constexpr const char *kSystemAnchorFolder = "/etc/ssl/certs";

template <typename T, T *(*Decode)(T **, const unsigned char **, long)>
T *decode(const std::string &der) {
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    return Decode(nullptr, &cursor, static_cast<long>(der.size()));
}

std::string time_text(const ASN1_TIME *time) {
    struct tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return "an unknown time";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

enum class Status { Unknown, Good, Revoked };

struct Finding {
    Status status = Status::Unknown;
    bool from_store = false;
    std::string revoked_at;
};

// What one OCSP response says of cert at time at, when it may stand for cert.
Status ocsp_status(const std::string &der, X509 *cert, X509 *issuer, std::time_t at, std::string &revoked_at) {
    OcspResponsePtr response(decode<OCSP_RESPONSE, d2i_OCSP_RESPONSE>(der));
    OcspBasicPtr basic(response && OCSP_response_status(response.get()) == OCSP_RESPONSE_STATUS_SUCCESSFUL
                           ? OCSP_response_get1_basic(response.get())
                           : nullptr);
    OCSP_SINGLERESP *entry = basic ? ocsp_entry_for(basic.get(), cert, issuer) : nullptr;
    if (!entry || !ocsp_signed_for(basic.get(), issuer)) return Status::Unknown;
    int reason = 0;
    ASN1_GENERALIZEDTIME *revoked = nullptr, *this_update = nullptr, *next_update = nullptr;
    const int status = OCSP_single_get0_status(entry, &reason, &revoked, &this_update, &next_update);
    if (status == V_OCSP_CERTSTATUS_GOOD) return Status::Good;
    if (status != V_OCSP_CERTSTATUS_REVOKED) return Status::Unknown;
    if (revoked && ASN1_TIME_cmp_time_t(revoked, at) > 0) return Status::Good;  // still good at that time
    revoked_at = time_text(revoked);
    return Status::Revoked;
}

// What one CRL says of cert at time at, for what it covers of cert.
Status crl_status(X509_CRL *crl, X509 *cert, X509 *issuer, std::time_t at, std::string &revoked_at) {
    const CrlScope scope = crl_scope(crl, cert, issuer);
    if (scope == CrlScope::None) return Status::Unknown;
    X509_REVOKED *entry = nullptr;
    const int found = X509_CRL_get0_by_cert(crl, &entry, cert);
    // Only a complete list proves a certificate it does not name good; an
    // entry that a delta list removes again proves nothing.
    if (found == 0) return scope == CrlScope::Full ? Status::Good : Status::Unknown;
    if (found != 1 || !entry) return Status::Unknown;
    const ASN1_TIME *date = X509_REVOKED_get0_revocationDate(entry);
    if (date && ASN1_TIME_cmp_time_t(date, at) > 0) return Status::Good;
    revoked_at = time_text(date);
    return Status::Revoked;
}

// The first revocation, else the first good status, of cert among all sources.
Finding find_status(X509 *cert, X509 *issuer, const std::vector<std::string> &archived, std::time_t at,
                    const TrustMaterial &material) {
    Finding found;
    const auto take = [&](Status status, bool from_store, const std::string &revoked_at) {
        if (status == Status::Revoked && found.status != Status::Revoked) {
            found.status = Status::Revoked;
            found.revoked_at = revoked_at;
        } else if (status == Status::Good && found.status == Status::Unknown) {
            found.status = Status::Good;
        }
        if (status != Status::Unknown && from_store) found.from_store = true;
    };
    std::string revoked_at;
    for (const std::string &der : archived) take(ocsp_status(der, cert, issuer, at, revoked_at), false, revoked_at);
    for (const std::string &der : material.store_ocsps())
        take(ocsp_status(der, cert, issuer, at, revoked_at), true, revoked_at);
    for (int i = 0; i < sk_X509_CRL_num(material.store_crls()); ++i)
        take(crl_status(sk_X509_CRL_value(material.store_crls(), i), cert, issuer, at, revoked_at), true, revoked_at);
    ERR_clear_error();
    return found;
}

// Revocation of every certificate of chain that has its issuer in the chain.
void judge_revocation(STACK_OF(X509) *chain, const std::vector<std::string> &archived, std::time_t at,
                      const TrustMaterial &material, ChainVerdict &verdict) {
    const int count = sk_X509_num(chain);
    bool all_known = count > 1, store_covers = count > 1;
    std::string uncovered;
    for (int i = 0; i < count; ++i) {
        X509 *cert = sk_X509_value(chain, i);
        if (X509_check_issued(cert, cert) == X509_V_OK) break;  // the anchor vouches for itself
        X509 *issuer = i + 1 < count ? sk_X509_value(chain, i + 1) : nullptr;
        const Finding found = issuer ? find_status(cert, issuer, archived, at, material) : Finding{};
        if (found.status == Status::Revoked) {
            verdict.revocation = "revoked";
            verdict.revocation_detail = subject_line(cert) + " was revoked at " + found.revoked_at;
            verdict.store_covers_chain = false;
            return;
        }
        if (found.status == Status::Unknown) {
            all_known = false;
            if (uncovered.empty()) uncovered = subject_line(cert);
        }
        store_covers = store_covers && found.from_store;
    }
    verdict.store_covers_chain = all_known && store_covers;
    if (all_known) {
        verdict.revocation = "good";
        return;
    }
    verdict.revocation = "unknown";
    verdict.revocation_detail = uncovered.empty() ? "the chain holds no certificate of an issuer"
                                                  : "no OCSP response or CRL in the document covers " + uncovered;
}

}  // namespace

std::string subject_line(X509 *cert) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || X509_NAME_print_ex(out.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253) < 0) return "";
    char *text = nullptr;
    const long length = BIO_get_mem_data(out.get(), &text);
    return std::string(text, static_cast<std::size_t>(length));
}

TrustMaterial::TrustMaterial(const std::string &anchors_file, const std::vector<std::string> &store_certs,
                             const std::vector<std::string> &store_ocsps, const std::vector<std::string> &store_crls)
    : anchors_(X509_STORE_new()), certs_(sk_X509_new_null()), ocsps_(store_ocsps), crls_(sk_X509_CRL_new_null()) {
    // The system's anchors are looked up by name in their hashed folder, so
    // that a report reads only those its chains need rather than every one.
    const bool loaded = anchors_file.empty() ? X509_STORE_load_path(anchors_.get(), kSystemAnchorFolder) == 1
                                             : X509_STORE_load_file(anchors_.get(), anchors_file.c_str()) == 1;
    if (!anchors_ || !loaded)
        problem_ = "the trust anchors of " + (anchors_file.empty() ? std::string(kSystemAnchorFolder) : anchors_file) +
                   " cannot be read";
    ERR_clear_error();
    for (const std::string &der : store_certs) {
        X509 *cert = decode<X509, d2i_X509>(der);
        if (cert && !sk_X509_push(certs_.get(), cert)) X509_free(cert);
    }
    for (const std::string &der : store_crls) {
        X509_CRL *crl = decode<X509_CRL, d2i_X509_CRL>(der);
        if (crl && !sk_X509_CRL_push(crls_.get(), crl)) X509_CRL_free(crl);
    }
    ERR_clear_error();
}

ChainVerdict judge_chain(X509 *cert, STACK_OF(X509) *extra, const std::vector<std::string> &archived,
                         std::time_t at, const TrustMaterial &material) {
    ChainVerdict verdict;
    X509StackViewPtr pool(sk_X509_new_null());
    for (int i = 0; pool && i < sk_X509_num(extra); ++i) sk_X509_push(pool.get(), sk_X509_value(extra, i));
    for (int i = 0; pool && i < sk_X509_num(material.store_certs()); ++i)
        sk_X509_push(pool.get(), sk_X509_value(material.store_certs(), i));
    X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!cert || !pool || !context || X509_STORE_CTX_init(context.get(), material.anchors(), cert, pool.get()) != 1) {
        verdict.trust_detail = "the certificate chain cannot be built";
        ERR_clear_error();
        return verdict;
    }
    X509_STORE_CTX_set_time(context.get(), 0, at);
    const bool verified = X509_verify_cert(context.get()) == 1;
    const int error = X509_STORE_CTX_get_error(context.get());
    if (verified) {
        verdict.trust = "trusted";
    } else if (!material.anchors_problem().empty()) {
        verdict.trust_detail = material.anchors_problem();
    } else {
        verdict.trust = error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID ? "expired"
                                                                                                     : "untrusted";
        X509 *failed = X509_STORE_CTX_get_current_cert(context.get());
        verdict.trust_detail = std::string(X509_verify_cert_error_string(error)) +
                               (failed ? " [" + subject_line(failed) + "]" : std::string());
    }
    X509StackPtr chain(X509_STORE_CTX_get1_chain(context.get()));
    ERR_clear_error();
    if (chain) judge_revocation(chain.get(), archived, at, material, verdict);
    if (verdict.revocation == "revoked") {
        verdict.trust = "revoked";
        verdict.trust_detail = verdict.revocation_detail;
    }
    return verdict;
}

}  // namespace qs
