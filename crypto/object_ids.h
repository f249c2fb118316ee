// Object identifiers the signature attributes use, registered with OpenSSL
// once per process.
#pragma once

namespace qs {

constexpr const char *kRevocationInfoArchival = "1.2.840.113583.1.1.8";
constexpr const char *kTimeStampToken = "1.2.840.113549.1.9.16.2.14";

// Registers both identifiers (a no-op for any OpenSSL already knows).
void register_signature_oids();

// The NID of an identifier given as dotted text.
int oid_nid(const char *oid);

}  // namespace qs
