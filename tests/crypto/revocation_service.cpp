#include "crypto/revocation_service.h"

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/ocsp.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/der.h"
#include "crypto/hex.h"

namespace cryptotest {
namespace {

using qstest::shell_quote;

// Steps into a constructed element of the given tag and class.
bool enter(const unsigned char *&cursor, long &remaining, int tag, int xclass) {
    long length = 0;
    int found_tag = 0, found_class = 0;
    const int kind = ASN1_get_object(&cursor, &length, &found_tag, &found_class, remaining);
    if ((kind & 0x80) || !(kind & V_ASN1_CONSTRUCTED) || found_tag != tag || found_class != xclass) return false;
    remaining = length;
    return true;
}

qs::CmsPtr newest_signature(const std::string &pdf, const std::string &password) {
    const std::string der = newest_signature_der(pdf, password);
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    return der.empty() ? nullptr : qs::CmsPtr(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
}

}  // namespace

std::string newest_signature_der(const std::string &pdf, const std::string &password) {
    FILE *f = std::fopen(pdf.c_str(), "rb");
    if (!f) return std::string();
    long range[4];
    int object = 0;
    char *inside = nullptr;
    long length = 0;
    const bool read = qpdf_get_byte_range(f, password.c_str(), range, &object) == 0 &&
                      get_internal_range(f, range[1], range[2], &inside, &length) == 0;
    std::fclose(f);
    const auto bytes = qs::parse_hex_pairs(read && inside ? inside : "");
    std::free(inside);
    if (!bytes || bytes->size() < 2) return std::string();
    // The DER object without the zero bytes of the unused digits after it.
    const unsigned char *cursor = bytes->data();
    long content = 0;
    int tag = 0, xclass = 0;
    if (ASN1_get_object(&cursor, &content, &tag, &xclass, static_cast<long>(bytes->size())) & 0x80)
        return std::string();
    const std::size_t total = static_cast<std::size_t>(cursor - bytes->data()) + static_cast<std::size_t>(content);
    return std::string(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(total));
}

RevocationService::RevocationService(bool with_rsa_chain, const std::vector<std::string> &service) {
    std::vector<std::string> options = {"--pki", pki_.path(), "--max-requests", "400", "--tsa-config",
                                        pki_.file("tsa/tsa.cnf")};
    options.insert(options.end(), service.begin(), service.end());
    service_ = std::make_unique<qstest::LocalService>("revocation", options);
    const auto made = qstest::run_shell("bash " + shell_quote(std::string(QS_SOURCE_DIR) + "/tests/support/make_ltv_pki.sh") +
                                        " " + shell_quote(pki_.path()) + " " + shell_quote(service_->url("http", "")) +
                                        (with_rsa_chain ? " rsa" : "") + " 2>&1");
    if (made.status != 0) throw std::runtime_error("LTV PKI not made: " + made.out);
}

int RevocationService::requests_to(const std::string &path) const {
    int count = 0;
    for (const auto &request : service_->requests()) count += request.path == path ? 1 : 0;
    return count;
}

std::string archived_ocsp_response(const std::string &pdf, const std::string &password) {
    qs::CmsPtr cms = newest_signature(pdf, password);
    STACK_OF(CMS_SignerInfo) *signers = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    CMS_SignerInfo *signer = signers ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
    qs::Asn1ObjectPtr oid(OBJ_txt2obj("1.2.840.113583.1.1.8", 1));
    const int at = signer ? CMS_signed_get_attr_by_OBJ(signer, oid.get(), -1) : -1;
    if (at < 0) return std::string();
    const ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(signer, at), 0);
    if (!value || value->type != V_ASN1_SEQUENCE) return std::string();
    // SEQUENCE { [1] EXPLICIT SEQUENCE OF { OCSPResponse } }
    const unsigned char *cursor = value->value.sequence->data;
    long remaining = value->value.sequence->length;
    if (!enter(cursor, remaining, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL) ||
        !enter(cursor, remaining, 1, V_ASN1_CONTEXT_SPECIFIC) ||
        !enter(cursor, remaining, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL))
        return "not a revocationInfoArchival value";
    const unsigned char *start = cursor;
    qs::OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &cursor, remaining));
    if (!response || cursor - start != remaining) return "not one OCSP response";
    return std::string(reinterpret_cast<const char *>(start), static_cast<std::size_t>(remaining));
}

std::string make_ocsp_response(const RevocationService &pki, const std::string &cert, const std::string &ca,
                               const std::string &signer) {
    qstest::TempDir dir;
    const std::string request = shell_quote(dir.file("request.der")), response = dir.file("response.der");
    const auto made = qstest::run_shell(
        "openssl ocsp -no_nonce -issuer " + shell_quote(pki.file(ca + "/ca.pem")) + " -cert " +
        shell_quote(pki.file(cert)) + " -reqout " + request + " >/dev/null 2>&1 && openssl ocsp -index " +
        shell_quote(pki.file(ca + "/index.txt")) + " -CA " + shell_quote(pki.file(ca + "/ca.pem")) + " -rsigner " +
        shell_quote(pki.file(signer + ".pem")) + " -rkey " + shell_quote(pki.file(signer + ".key")) + " -reqin " +
        request + " -respout " + shell_quote(response) + " -ndays 1 2>&1");
    if (made.status != 0) throw std::runtime_error("OCSP response not made: " + made.out);
    return qstest::read_file(response);
}

std::string basic_response_of(const std::string &response_der) {
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(response_der.data());
    qs::OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &cursor, static_cast<long>(response_der.size())));
    qs::OcspBasicPtr basic(response ? OCSP_response_get1_basic(response.get()) : nullptr);
    const std::string der = qs::der_of<OCSP_BASICRESP, i2d_OCSP_BASICRESP>(basic.get());
    if (der.empty()) throw std::runtime_error("no basic OCSP response");
    return der;
}

void plant_cache_file(const std::string &cache, const std::string &name, const std::string &bytes,
                      const std::string &key) {
    qstest::write_file(cache + "/" + name, bytes);
    qstest::write_file(cache + "/quillseal-cache.db",
                       "{ \"" + key + "\": " + std::to_string(static_cast<long>(std::time(nullptr))) + " }");
}

std::string ocsp_verdict(const RevocationService &pki, const std::string &response_der, const std::string &cert,
                         const std::string &issuer) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("response.der"), response_der);
    return qstest::run_shell("openssl ocsp -no_nonce -respin " + shell_quote(dir.file("response.der")) + " -issuer " +
                             shell_quote(issuer) + " -cert " + shell_quote(cert) + " -CAfile " +
                             shell_quote(pki.file("root/ca.pem")) + " -verify_other " +
                             shell_quote(pki.file("chain.pem")) + " 2>&1")
        .out;
}

}  // namespace cryptotest
