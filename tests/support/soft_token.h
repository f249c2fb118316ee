// A SoftHSM2 token of a test's own, reached through the PKCS#11 engine of the
// system's OpenSSL: the fixture keys are imported into it, so that signing
// uses keys that never leave the token.
#pragma once

#include <string>

#include "support/support.h"

namespace qstest {

class SoftToken {
public:
    static constexpr const char *kPin = "735911";

    // Initialises a token in dir (its own softhsm2.conf and token folder) and
    // imports the fixture keys: signer.key as "signer" (id 01) and
    // ec-signer.key as "ec" (id 02). problem() tells what went wrong, if anything.
    explicit SoftToken(const TempDir &dir);

    const std::string &problem() const { return problem_; }
    const std::string &slot() const { return slot_; }       // the token's slot id, decimal
    const std::string &engine() const { return engine_; }   // the engine object of OpenSSL
    const std::string &module() const { return module_; }   // the SoftHSM2 module
    // The PKCS#11 provider of OpenSSL (Debian package pkcs11-provider), or ""
    // (also in a sanitizer build, which cannot load it).
    static std::string provider();
    // "SOFTHSM2_CONF=... " to put before a command line.
    std::string env() const;
    // Points the module at this token for code running in this process.
    void activate() const;

    // Initialises one more token in the same token folder, labelled label,
    // with its own PIN, holding key (a fixture key file) as "signer" (id 01).
    // Empty when that went well, else what went wrong.
    std::string add_token(const std::string &label, const std::string &pin, const std::string &key) const;
    // Imports another private key (PEM) under label and id; what went wrong, or "".
    std::string import_key(const std::string &key_file, const std::string &label, const std::string &id) const;
    // Writes a certificate (PEM) onto the token under label and id, with
    // pkcs11-tool (Debian package opensc); what went wrong, or "".
    std::string import_certificate(const std::string &pem_file, const std::string &label, const std::string &id,
                                   const std::string &token = "qs", const std::string &pin = kPin) const;

    // A key=value configuration for this token, the PIN stored encrypted,
    // followed by extra lines; pin_value replaces the PIN. signerpem and capem
    // name fixtures, or other files by absolute path.
    std::string write_config(const TempDir &dir, const std::string &name, const std::string &p11url,
                             const std::string &signerpem = "signer.pem", const std::string &extra = "",
                             const std::string &pin_value = kPin, const std::string &capem = "ca.pem") const;

    // A configuration of the store route: certstore "OPENSSL STORE" with the
    // provider driving this token's module, keyuri, the PIN stored encrypted
    // (pin_value replaces it; "" leaves the PIN out), then extra lines, which
    // go before the others when they start with "!" (the first value wins).
    std::string write_store_config(const TempDir &dir, const std::string &name, const std::string &keyuri,
                                   const std::string &extra = "", const std::string &pin_value = kPin) const;

private:
    // The slot of a new token, or nothing with the reason in problem.
    std::string init_token(const std::string &label, const std::string &pin, std::string &problem) const;
    // What went wrong importing the key file as label and id into token, or nothing.
    std::string import_key(const std::string &token, const std::string &pin, const std::string &key_file,
                           const std::string &label, const std::string &id) const;

    std::string conf_, slot_, engine_, module_, problem_;
};

}  // namespace qstest
