#include "crypto/trust/timestamp_trust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "core/base/handles.h"

namespace qs {

std::string timestamping_usage_problem(X509 *cert) {
    int critical = 0;
    ExtendedKeyUsagePtr usage(
        static_cast<EXTENDED_KEY_USAGE *>(X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
    ERR_clear_error();
    if (!usage) {
        if (critical == -1) return "the authority's certificate has no extended key usage timeStamping";
        return "the authority's certificate has an unreadable extended key usage";
    }
    bool stamps = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage.get()); ++i)
        stamps = stamps || OBJ_obj2nid(sk_ASN1_OBJECT_value(usage.get(), i)) == NID_time_stamp;
    if (!stamps) return "the authority's certificate has no extended key usage timeStamping";
    if (sk_ASN1_OBJECT_num(usage.get()) != 1)
        return "the authority's certificate allows other extended key usages besides timeStamping";
    if (critical != 1) return "the authority's extended key usage timeStamping is not marked critical";
    return std::string();
}

ChainVerdict judge_timestamp_authority(X509 *tsa, STACK_OF(X509) *token_certs, std::time_t at,
                                       const TrustMaterial &material) {
    ChainVerdict verdict = judge_chain(tsa, token_certs, {}, at, material);
    const std::string problem = tsa ? timestamping_usage_problem(tsa) : std::string();
    if (!problem.empty() && (verdict.trust == "trusted" || verdict.trust == "untrusted")) {
        verdict.trust = "untrusted";
        verdict.trust_detail = problem;
    }
    return verdict;
}

}  // namespace qs
