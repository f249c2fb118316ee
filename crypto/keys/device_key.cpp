// Key material of a PKCS#11 security device: the private key through the
// registered engine, the certificate and chain from PEM files.
#include <openssl/pem.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/input_file.h"
#include "crypto/keys/key_store.h"
#include "crypto/keys/pkcs11_engine.h"

namespace qs {

namespace {

constexpr const char *kNoKey = "Error: ENGINE_load_private_key() returned NULL key...";

}  // namespace

int load_device_keys(SigningConfig *config, KeyMaterial &out) {
    if (refused_before(config)) {
        report(kNoKey);
        return -1;
    }
    if (pkcs11engine_register(config) < 0) {
        report("Error loading PKCS#11 engine.");
        return -1;
    }
    out.key = load_engine_key(config);
    if (!out.key) {
        report(kNoKey);
        return -1;
    }
    bool not_regular = false;
    FilePtr pem = open_regular_file(config->signerpem, not_regular);
    out.cert.reset(pem ? PEM_read_X509(pem.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!out.cert) {
        report("Error: PEM_read_bio_X509() returned NULL cert...");
        return -1;
    }
    out.chain.reset(loadca(config->capem));
    if (!out.chain) {
        report("Error: the CA file is empty...");
        return -1;
    }
    return 0;
}

}  // namespace qs
