#include "crypto/changes/signature_assessment.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

#include <openssl/cms.h>
#include <openssl/err.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "crypto/object_ids.h"
#include "crypto/timestamps/timestamp_check.h"
#include "crypto/trust/timestamp_trust.h"

namespace qs {
namespace {

CmsPtr decode_cms(const unsigned char *der, std::size_t length) {
    if (length == 0 || length > static_cast<std::size_t>(LONG_MAX)) return nullptr;
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &der, static_cast<long>(length)));
    ERR_clear_error();
    return cms;
}

// The certificate that signed the first SignerInfo, from the object's own set.
X509Ptr first_signer(CMS_ContentInfo *cms) {
    STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(cms);
    CMS_SignerInfo *si = sk_CMS_SignerInfo_num(signers) > 0 ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
    X509StackPtr certs(CMS_get1_certs(cms));
    for (int i = 0; si && i < sk_X509_num(certs.get()); ++i) {
        X509 *cert = sk_X509_value(certs.get(), i);
        if (CMS_SignerInfo_cert_cmp(si, cert) == 0 && X509_up_ref(cert) == 1) return X509Ptr(cert);
    }
    return nullptr;
}

std::string serial_text(X509 *cert) {
    BignumPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr));
    OpensslTextPtr hex(serial ? BN_bn2hex(serial.get()) : nullptr);
    return hex ? hex.get() : "";
}

std::string digest_name(CMS_SignerInfo *si) {
    X509_ALGOR *algorithm = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &algorithm, nullptr);
    const ASN1_OBJECT *oid = nullptr;
    if (algorithm) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    return oid ? OBJ_nid2sn(OBJ_obj2nid(oid)) : "";
}

// The DER of a SEQUENCE-typed attribute value.
std::string attribute_der(X509_ATTRIBUTE *attribute) {
    const ASN1_TYPE *value = attribute ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
    if (!value || value->type != V_ASN1_SEQUENCE) return std::string();
    return std::string(reinterpret_cast<const char *>(value->value.sequence->data),
                       static_cast<std::size_t>(value->value.sequence->length));
}

// Steps into a constructed element of the given tag and class.
bool enter(const unsigned char *&cursor, long &remaining, int tag, int xclass) {
    long length = 0;
    int found_tag = 0, found_class = 0;
    const int kind = ASN1_get_object(&cursor, &length, &found_tag, &found_class, remaining);
    if ((kind & 0x80) || !(kind & V_ASN1_CONSTRUCTED) || found_tag != tag || found_class != xclass) return false;
    remaining = length;
    return true;
}

// The OCSP responses of a revocationInfoArchival value: SEQUENCE { [1] SEQUENCE OF OCSPResponse }.
std::vector<std::string> archived_responses(CMS_SignerInfo *si) {
    std::vector<std::string> responses;
    const int at = CMS_signed_get_attr_by_NID(si, oid_nid(kRevocationInfoArchival), -1);
    const std::string value = at >= 0 ? attribute_der(CMS_signed_get_attr(si, at)) : std::string();
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(value.data());
    long remaining = static_cast<long>(value.size());
    if (value.empty() || !enter(cursor, remaining, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL)) return responses;
    const unsigned char *end = cursor + remaining;
    while (cursor < end) {
        long length = 0;
        int tag = 0, xclass = 0;
        const int kind = ASN1_get_object(&cursor, &length, &tag, &xclass, end - cursor);
        if (kind & 0x80) break;
        const unsigned char *next = cursor + length;
        long inner = length;
        if (tag == 1 && xclass == V_ASN1_CONTEXT_SPECIFIC && enter(cursor, inner, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL)) {
            const unsigned char *list_end = cursor + inner;
            while (cursor < list_end) {
                const unsigned char *response = cursor;
                long response_length = 0;
                if (ASN1_get_object(&cursor, &response_length, &tag, &xclass, list_end - cursor) & 0x80) break;
                cursor += response_length;
                responses.emplace_back(reinterpret_cast<const char *>(response), static_cast<std::size_t>(cursor - response));
            }
        }
        cursor = next;
    }
    ERR_clear_error();
    return responses;
}

// The signature timestamp a SignerInfo carries over its signature value,
// and whether it may be believed.
TimestampFacts signature_timestamp(CMS_SignerInfo *si, const TrustMaterial &material) {
    TimestampFacts facts;
    const int at = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1);
    if (at < 0) return facts;
    facts.present = true;
    const std::string der = attribute_der(CMS_unsigned_get_attr(si, at));
    CmsPtr token = decode_cms(reinterpret_cast<const unsigned char *>(der.data()), der.size());
    ToleratedFailure tolerated;
    TokenImprint imprint;
    if (!token || !read_token(token.get(), imprint)) {
        facts.detail = token ? tolerated.take() : "the signature timestamp is no timestamp token";
        facts.trust_detail = facts.detail;
        return facts;
    }
    facts.time = imprint.time;
    const ASN1_OCTET_STRING *value = CMS_SignerInfo_get0_signature(si);
    const EVP_MD *md = EVP_get_digestbyname(imprint.digest_name.c_str());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool matches = md && value &&
                         EVP_Digest(ASN1_STRING_get0_data(value), static_cast<std::size_t>(ASN1_STRING_length(value)),
                                    digest, &length, md, nullptr) == 1 &&
                         std::vector<unsigned char>(digest, digest + length) == imprint.digest;
    const bool signed_ok = verify_token_signature(token.get()) == 0;
    facts.intact = matches && signed_ok;
    facts.detail = !matches ? "the timestamp's imprint is not the digest of the signature value"
                            : signed_ok ? std::string() : tolerated.take();
    tolerated.take();
    X509Ptr tsa = first_signer(token.get());
    if (tsa) facts.tsa = subject_line(tsa.get());
    if (!facts.intact) {
        facts.trust_detail = facts.detail;
    } else if (!tsa) {
        facts.trust_detail = "the token names no certificate of its authority";
    } else {
        X509StackPtr certs(CMS_get1_certs(token.get()));
        const ChainVerdict chain = judge_timestamp_authority(tsa.get(), certs.get(), imprint.time, material);
        facts.trusted = chain.trust == "trusted";
        if (!facts.trusted) facts.trust_detail = chain.trust_detail;
    }
    ERR_clear_error();
    return facts;
}

}  // namespace

std::string iso_time(std::time_t time) {
    struct tm parts {};
    char text[32] = "";
    if (gmtime_r(&time, &parts)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string iso_date(const std::string &pdf_date) {
    std::string digits = pdf_date.rfind("D:", 0) == 0 ? pdf_date.substr(2) : pdf_date;
    std::size_t count = 0;
    while (count < digits.size() && count < 14 && std::isdigit(static_cast<unsigned char>(digits[count]))) ++count;
    if (count < 4) return std::string();
    const std::string fill = "0101000000";  // month, day, hour, minute, second when left out
    const std::string full = digits.substr(0, count) + (count < 14 ? fill.substr(count - 4) : std::string());
    std::string iso = full.substr(0, 4) + "-" + full.substr(4, 2) + "-" + full.substr(6, 2) + "T" + full.substr(8, 2) +
                      ":" + full.substr(10, 2) + ":" + full.substr(12, 2);
    const std::string zone = digits.substr(count);
    if (zone.empty() || zone[0] == 'Z') return iso + "Z";
    if ((zone[0] == '+' || zone[0] == '-') && zone.size() >= 3) {
        const std::string minutes = zone.size() >= 6 ? zone.substr(4, 2) : "00";
        return iso + zone.substr(0, 3) + ":" + minutes;
    }
    return iso;
}

SignatureFacts assess_signature(const SignatureJudgement &judged, const TrustMaterial &material) {
    SignatureFacts facts;
    const SignatureEntry &entry = judged.entry;
    facts.signing_time = iso_date(entry.claimed_time);
    CMS_ContentInfo *cms = judged.cms.get();
    if (!cms) {
        facts.chain.trust_detail = "the signature cannot be read";
        return facts;
    }
    X509Ptr signer = first_signer(cms);
    if (signer) {
        facts.signer = subject_line(signer.get());
        facts.serial = serial_text(signer.get());
    }
    X509StackPtr certs(CMS_get1_certs(cms));
    STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(cms);
    CMS_SignerInfo *si = sk_CMS_SignerInfo_num(signers) > 0 ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
    const bool document_timestamp = entry.document_timestamp || is_timestamp_token(cms);
    std::time_t at = std::time(nullptr);
    std::vector<std::string> archived;
    if (document_timestamp) {
        TokenImprint imprint;
        ToleratedFailure tolerated;
        if (read_token(cms, imprint)) {
            facts.hash = imprint.digest_name;
            facts.signing_time = iso_time(imprint.time);
            at = imprint.time;
        }
        tolerated.take();
    } else if (si) {
        facts.hash = digest_name(si);
        facts.signing_certificate_v2 = CMS_signed_get_attr_by_NID(si, NID_id_smime_aa_signingCertificateV2, -1) >= 0;
        archived = archived_responses(si);
        facts.timestamp = signature_timestamp(si, material);
        if (facts.timestamp.trusted) at = facts.timestamp.time;
    }
    if (!signer) {
        facts.chain.trust_detail = "the signature names no certificate of its signer";
    } else if (document_timestamp) {
        // A document timestamp's signer is its authority, which must be one that may stamp.
        facts.chain = judge_timestamp_authority(signer.get(), certs.get(), at, material);
    } else {
        facts.chain = judge_chain(signer.get(), certs.get(), archived, at, material);
    }
    ERR_clear_error();
    return facts;
}

}  // namespace qs
