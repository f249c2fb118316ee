// The signer's key material: the certificate and CA chain, and the key that
// signs: a private key in this process, from a PKCS#12 key store (a file or
// base64 text) or a PKCS#11 device, or a key held by a remote signing service.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <quillseal/config.h>

#include "core/base/handles.h"

namespace qs {

// One signature value made for a digest, or why there is none.
struct SignedValue {
    std::string value;    // the raw signature value (PKCS#1 v1.5 for RSA, DER ECDSA-Sig-Value for EC)
    std::string problem;  // empty when value is good
};

// Signs digests with a key that is not in this process. A remote signing
// service signs many digests in one exchange, so it is given a batch: at most
// batch_limit() digests, each made with md. values receives one entry per
// digest, in order; every value has been checked against the signer's
// certificate before it is handed back, and one that does not verify is
// refused there (its problem says why). -1, reported, when the batch as a
// whole fails and no value can be had.
class DigestSigner {
public:
    virtual ~DigestSigner() = default;
    virtual std::size_t batch_limit() const = 0;
    virtual int sign_digests(SigningConfig *config, const EVP_MD *md, const std::vector<std::string> &digests,
                             std::vector<SignedValue> &values) = 0;
};

struct KeyMaterial {
    EvpPkeyPtr key;      // the private key when it is in this process, else null
    X509Ptr cert;
    X509StackPtr chain;  // may be empty
    std::shared_ptr<DigestSigner> remote;  // signs for a key held elsewhere; null for a key here
};

constexpr const char *kPkcs12Store = "PKCS12 KEYSTORE FILE";
constexpr const char *kPkcs11Device = "PKCS11 SECURITY DEVICE";
constexpr const char *kOpensslStore = "OPENSSL STORE";
constexpr const char *kRemoteService = "CSC";

// Where the PKCS#12 bytes come from and the text reported when they cannot be
// buffered (the signer and the certificate reader word it differently).
struct Pkcs12Source {
    int certfiledata = 0;          // 1: certfile is base64 text; 0: a path
    const char *certfile = nullptr;
    const char *certpasswd = nullptr;
    const char *buffer_message = "Error in BIO_write()....";
};

// Loads and parses the store. Stores written by older tools (RC2, 3DES)
// are read with OpenSSL's legacy provider, loaded beside the default one on
// first need. Between init and shutdown a store already parsed (the same
// bytes, the same password) is shared from the cache of key_store_cache.h
// instead. Reports and returns -1 on failure.
int load_pkcs12(const Pkcs12Source &source, KeyMaterial &out);

// The raw store bytes: the base64 decoding of certfile, or the file's content.
int read_store_bytes(const Pkcs12Source &source, std::string &bytes);

// PKCS#11: key through the registered engine by p11key, certificate from
// signerpem, chain from capem.
int load_device_keys(SigningConfig *config, KeyMaterial &out);

bool is_device_store(const SigningConfig &config);
// certstore "OPENSSL STORE": key and certificate by URI (provider_store.h).
bool is_openssl_store(const SigningConfig &config);
bool is_remote_store(const SigningConfig &config);

// How many documents to give the configured key at once, read from the
// configuration alone: 1 for a key in this process; cscbatch (100 when
// unset) for a remote signing service, which signs them all with one
// authorisation.
std::size_t configured_batch(const SigningConfig &config);

// The signer's key material from the store the configuration names: the
// PKCS#12 store (buffer_message words bytes that cannot be buffered), the
// PKCS#11 device through the engine, a store opened by URI, or the remote
// signing service. Reports and returns -1 on failure.
int load_signer_keys(SigningConfig *config, KeyMaterial &out,
                     const char *buffer_message = "Error in BIO_write()....");

// The chain as a signature carries it: every certificate once, in the order
// first met, and never the signer's own, which the signature adds itself. A
// "full chain" file or a store's CA list may hold either twice. The entries
// are borrowed from chain. Null only when memory runs out.
X509StackViewPtr chain_to_embed(X509 *cert, STACK_OF(X509) *chain);

}  // namespace qs
