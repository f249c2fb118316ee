// One signature or document timestamp judged for a validation report: who
// made it, whether it is intact, its signature timestamp, the trust of its
// chain and what the document's revocation data says of it. What came after
// it in the document is judged by the report itself.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "crypto/trust/chain_trust.h"
#include "pdf/signature_inventory.h"

namespace qs {

struct TimestampFacts {
    bool present = false;
    std::time_t time = 0;
    bool intact = false;
    std::string detail;  // why it is not intact
    std::string tsa;
    std::string trust, trust_detail;
};

struct SignatureFacts {
    std::string signer, serial, hash;  // subject (RFC 2253), serial number (hex), digest name
    std::string signing_time;          // ISO 8601; empty when none is claimed
    bool intact = false;
    std::string intact_detail;
    long revision_end = -1;  // offset of the %%EOF that ends the signed bytes
    TimestampFacts timestamp;
    ChainVerdict chain;
    bool signing_certificate_v2 = false;
};

// Judges entry of file (size bytes). Never fails: what cannot be read is
// told in the facts.
SignatureFacts assess_signature(std::FILE *file, long size, const SignatureEntry &entry,
                                const TrustMaterial &material);

// A PDF date (D:YYYYMMDDHHmmSSOHH'mm') as ISO 8601; empty when it is none.
std::string iso_date(const std::string &pdf_date);

// A time as ISO 8601 in UTC.
std::string iso_time(std::time_t time);

}  // namespace qs
