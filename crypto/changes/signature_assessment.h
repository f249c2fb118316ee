// One signature or document timestamp judged for a validation report, on top
// of the judgement it shares with `verify`: who made it, its signature
// timestamp and whether that may be believed, the trust of its chain and
// what the document's revocation data says of it.
#pragma once

#include <ctime>
#include <string>

#include "crypto/changes/signature_judgement.h"
#include "crypto/trust/chain_trust.h"

namespace qs {

struct TimestampFacts {
    bool present = false;
    std::time_t time = 0;
    bool intact = false;   // its imprint is the digest of the signature value and its signature verifies
    std::string detail;    // why it is not intact
    std::string tsa;
    bool trusted = false;  // intact, and its authority may stamp and chains to the anchors
    std::string trust_detail;  // why it is not trusted
};

struct SignatureFacts {
    std::string signer, serial, hash;  // subject (RFC 2253), serial number (hex), digest name
    std::string signing_time;          // ISO 8601; empty when none is claimed
    TimestampFacts timestamp;
    ChainVerdict chain;
    bool signing_certificate_v2 = false;
};

// The facts of a judged signature. Never fails: what cannot be read is told
// in the facts. A signature timestamp's time is the time of judgement only
// when the timestamp is trusted; otherwise the signer is judged now.
SignatureFacts assess_signature(const SignatureJudgement &judged, const TrustMaterial &material);

// A PDF date (D:YYYYMMDDHHmmSSOHH'mm') as ISO 8601; empty when it is none.
std::string iso_date(const std::string &pdf_date);

// A time as ISO 8601 in UTC.
std::string iso_time(std::time_t time);

}  // namespace qs
