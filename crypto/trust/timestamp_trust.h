// Whether a timestamp's authority may be believed: its certificate was issued
// for time-stamping alone (the extended key usage timeStamping, marked
// critical and the only one) and chains to the trust anchors at the time the
// token names. A token whose authority fails either is no proof of time.
#pragma once

#include <ctime>
#include <string>

#include <openssl/x509.h>

#include "crypto/trust/chain_trust.h"

namespace qs {

// Empty when cert carries the extended key usage timeStamping, marked
// critical and alone; otherwise why it may not stamp.
std::string timestamping_usage_problem(X509 *cert);

// The chain of the authority's certificate tsa judged at time at, from the
// token's own certificates and the material; a certificate that may not stamp
// makes the verdict "untrusted" (unless it is revoked or expired already),
// with the reason as its detail.
ChainVerdict judge_timestamp_authority(X509 *tsa, STACK_OF(X509) *token_certs, std::time_t at,
                                       const TrustMaterial &material);

}  // namespace qs
