// The signer's key material: private key, certificate and CA chain, from a
// PKCS#12 key store (a file or base64 text) or from a PKCS#11 device.
#pragma once

#include <quillseal/config.h>

#include "core/base/handles.h"

namespace qs {

struct KeyMaterial {
    EvpPkeyPtr key;
    X509Ptr cert;
    X509StackPtr chain;  // may be empty
};

constexpr const char *kPkcs12Store = "PKCS12 KEYSTORE FILE";
constexpr const char *kPkcs11Device = "PKCS11 SECURITY DEVICE";
constexpr const char *kOpensslStore = "OPENSSL STORE";

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

// The signer's key material from the store the configuration names: the
// PKCS#12 store (buffer_message words bytes that cannot be buffered), the
// PKCS#11 device through the engine, or a store opened by URI. Reports and returns -1 on failure.
int load_signer_keys(SigningConfig *config, KeyMaterial &out,
                     const char *buffer_message = "Error in BIO_write()....");

// The chain as a signature carries it: every certificate once, in the order
// first met, and never the signer's own, which the signature adds itself. A
// "full chain" file or a store's CA list may hold either twice. The entries
// are borrowed from chain. Null only when memory runs out.
X509StackViewPtr chain_to_embed(X509 *cert, STACK_OF(X509) *chain);

}  // namespace qs
