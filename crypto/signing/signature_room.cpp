// Sizing the placeholder from the signature's own parts. The SignedData is
// measured as it will be encoded: certificates, names, serial numbers and the
// archived status exactly, each element's header from its length, and the
// parts not made yet (the signature value, the signing time, the digests) at
// the largest size they can take for this key and digest.
#include "crypto/signing/signature_room.h"

#include <cerrno>
#include <climits>
#include <string>

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "crypto/signing/byte_range.h"
#include "crypto/signing/revocation_archival.h"

namespace qs {
namespace {

// Elements of fixed size: a version INTEGER; an object identifier of the
// PKCS#7/CMS arcs (contentType, signedData, signingTime, messageDigest, ...);
// the one of signing-certificate-v2; a digest AlgorithmIdentifier with a
// NULL parameter; the signature's for an RSA or EC key, and for an RSA-PSS
// key with its parameters; the contentType attribute; the signingTime
// attribute with a GeneralizedTime.
constexpr long kVersion = 3;
constexpr long kCmsOid = 11;
constexpr long kSigningCertificateOid = 13;
constexpr long kDigestAlgorithm = 15;
constexpr long kSignatureAlgorithm = 15;
constexpr long kPssSignatureAlgorithm = 70;
constexpr long kContentType = 26;
constexpr long kSigningTime = 32;
// The S/MIME capabilities that the encapsulated layout signs as well.
constexpr long kSmimeCapabilities = 140;
constexpr long kSha256 = 32;

// A DER element around content bytes (every tag here is below 31, so the
// header depends only on the length).
long tlv(long content) {
    if (content < 0 || content > INT_MAX / 2) return INT_MAX / 2;
    return ASN1_object_size(0, static_cast<int>(content), V_ASN1_SEQUENCE);
}

long size_of(int length) { return length > 0 ? length : 0; }

struct Measures {
    long name = 0, serial = 0;  // the signer's issuer name and serial number
    long certificates = 0;      // every certificate the signature carries, each once
    long signature = 0;         // the largest signature value of the key
    long algorithm = kSignatureAlgorithm;
    long digest = EVP_MAX_MD_SIZE;
};

Measures measure(const SigningConfig &config, const SignatureInputs &inputs) {
    Measures m;
    X509 *cert = inputs.keys.cert.get();
    m.name = size_of(i2d_X509_NAME(X509_get_issuer_name(cert), nullptr));
    m.serial = size_of(i2d_ASN1_INTEGER(X509_get0_serialNumber(cert), nullptr));
    m.certificates = size_of(i2d_X509(cert, nullptr));
    X509StackViewPtr unique = chain_to_embed(cert, inputs.keys.chain.get());
    for (int i = 0; unique && i < sk_X509_num(unique.get()); ++i)
        m.certificates += size_of(i2d_X509(sk_X509_value(unique.get(), i), nullptr));
    // Where the private key is elsewhere, the certificate's public key tells its size.
    const EVP_PKEY *key = inputs.keys.key ? inputs.keys.key.get() : X509_get0_pubkey(cert);
    m.signature = key ? size_of(EVP_PKEY_get_size(key)) : 0;
    if (key && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA_PSS) m.algorithm = kPssSignatureAlgorithm;
    // The detached layouts sign the configured digest; the encapsulated one the key's own.
    const EVP_MD *md = EVP_get_digestbyname(config.hashalgo);
    if (md && !is_encapsulated_layout(config)) m.digest = EVP_MD_get_size(md);
    return m;
}

// signing-certificate-v2: one ESSCertIDv2 with the certificate's SHA-256
// and its issuer (a GeneralNames of one directoryName) and serial number.
long signing_certificate(const Measures &m) {
    const long issuer_serial = tlv(tlv(tlv(m.name)) + m.serial);
    const long cert_id = tlv(tlv(kSha256) + issuer_serial);
    return tlv(kSigningCertificateOid + tlv(tlv(tlv(cert_id))));
}

long signed_attributes(const SigningConfig &config, const SignatureInputs &inputs, const Measures &m) {
    long attributes = kContentType + tlv(kCmsOid + tlv(tlv(m.digest)));
    if (is_pades_subfilter(config)) return tlv(attributes + signing_certificate(m));
    attributes += kSigningTime;
    if (is_encapsulated_layout(config)) attributes += kSmimeCapabilities;
    if (archives_signer_status(config) && !inputs.ocsp_basic.empty())
        attributes += tlv(kCmsOid + tlv(static_cast<long>(revocation_archival_value(inputs.ocsp_basic).size())));
    return tlv(attributes);
}

long signed_data_bytes(const SigningConfig &config, const SignatureInputs &inputs) {
    const Measures m = measure(config, inputs);
    const long signer_info = tlv(kVersion + tlv(m.name + m.serial) + kDigestAlgorithm +
                                 signed_attributes(config, inputs, m) + m.algorithm + tlv(m.signature));
    // The encapsulated layout carries the signed digest as its content.
    const long content = tlv(kCmsOid + (is_encapsulated_layout(config) ? tlv(tlv(m.digest)) : 0));
    const long signed_data = tlv(kVersion + tlv(kDigestAlgorithm) + content + tlv(m.certificates) + tlv(signer_info));
    return tlv(kCmsOid + tlv(signed_data));
}

}  // namespace

int placeholder_for(const SigningConfig &config, int timestamp, const SignatureInputs &inputs, int estimate,
                    int &N) {
    N = estimate;
    if (!inputs.keys.cert) return 0;
    long extra = 0;
    if (!parse_extrarange(config.extrarange, extra)) return -1;
    long digits = 2 * signed_data_bytes(config, inputs) + extra + (timestamp ? kTimestampDigits : 0);
    digits = (digits + 99) / 100 * 100;
    if (digits > INT_MAX) {
        report("The signature needs more room than a signature placeholder can hold.");
        return -1;
    }
    if (digits > estimate) N = static_cast<int>(digits);
    return 0;
}

void gather_configured_inputs(SigningConfig *config, SignatureInputs &inputs) {
    const int saved = errno;
    ToleratedFailure tolerated;
    if (load_signer_certificates(config, inputs.keys) == 0) settle_archived_status(config, inputs);
    const std::string why = tolerated.take();
    if (!why.empty()) {
        const std::string line = "The placeholder is sized without the signer's certificates or status: " + why;
        handle_debug_message(config, line.c_str());
    }
    ERR_clear_error();
    errno = saved;
}

}  // namespace qs
