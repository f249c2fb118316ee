// Whom a signature's certificate chains to, and what the revocation data a
// document carries says of that chain: the trust part of a validation report.
// Nothing is fetched; the chain is built from the certificates the document
// holds and the anchors of a PEM file.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include <openssl/x509.h>

#include "core/base/handles.h"

namespace qs {

// The anchors, and the certificates, OCSP responses and CRLs the document's
// security store holds, read once per report.
class TrustMaterial {
public:
    // anchors_file: a PEM file of trusted certificates; empty: the system's
    // anchors (those of /etc/ssl/certs/ca-certificates.crt). When they cannot
    // be read, every chain is untrusted and anchors_problem() says why.
    TrustMaterial(const std::string &anchors_file, const std::vector<std::string> &store_certs,
                  const std::vector<std::string> &store_ocsps, const std::vector<std::string> &store_crls);

    X509_STORE *anchors() const { return anchors_.get(); }
    const std::string &anchors_problem() const { return problem_; }
    STACK_OF(X509) *store_certs() const { return certs_.get(); }
    const std::vector<std::string> &store_ocsps() const { return ocsps_; }
    STACK_OF(X509_CRL) *store_crls() const { return crls_.get(); }

private:
    X509StorePtr anchors_;
    std::string problem_;
    X509StackPtr certs_;
    std::vector<std::string> ocsps_;
    X509CrlStackPtr crls_;
};

// A certificate's subject as one line (RFC 2253: the most specific part first).
std::string subject_line(X509 *cert);

struct ChainVerdict {
    std::string trust = "untrusted";  // "trusted", "untrusted", "expired" or "revoked"
    std::string trust_detail;
    std::string revocation = "unknown";  // "good", "revoked" or "unknown"
    std::string revocation_detail;
    bool store_covers_chain = false;  // the security store alone gives a status for every certificate
};

// Judges the chain of cert at time at: built from extra (the signature's own
// certificates) and the store's, verified against the anchors, and every
// certificate below the anchor looked up in archived (OCSP responses the
// signature carries) and the store's OCSP responses and CRLs. A response or
// CRL counts only when its issuer's signature over it verifies, and a CRL
// only for what its scope covers (crl_scope): a delta CRL, or one for some
// reasons only, can prove a revocation but never a good status.
ChainVerdict judge_chain(X509 *cert, STACK_OF(X509) *extra, const std::vector<std::string> &archived,
                         std::time_t at, const TrustMaterial &material);

}  // namespace qs
