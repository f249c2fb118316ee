#include "crypto/timestamps/timestamp_check.h"

#include <cstring>

#include <openssl/err.h>
#include <openssl/ts.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/openssl_errors.h"
#include "crypto/digest.h"

namespace qs {
namespace {

TsTstInfoPtr decode_tst_info(CMS_ContentInfo *token) {
    ASN1_OCTET_STRING **content = CMS_get0_content(token);
    if (!content || !*content) return nullptr;
    const unsigned char *cursor = ASN1_STRING_get0_data(*content);
    return TsTstInfoPtr(d2i_TS_TST_INFO(nullptr, &cursor, ASN1_STRING_length(*content)));
}

bool token_time(const TS_TST_INFO *info, std::time_t &when) {
    const ASN1_GENERALIZEDTIME *time = TS_TST_INFO_get_time(info);
    struct tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return false;
    when = timegm(&parts);
    return true;
}

}  // namespace

bool is_timestamp_token(CMS_ContentInfo *cms) {
    return cms && OBJ_obj2nid(CMS_get0_type(cms)) == NID_pkcs7_signed &&
           OBJ_obj2nid(CMS_get0_eContentType(cms)) == NID_id_smime_ct_TSTInfo;
}

bool read_token(CMS_ContentInfo *token, TokenImprint &imprint) {
    TsTstInfoPtr info = is_timestamp_token(token) ? decode_tst_info(token) : nullptr;
    ERR_clear_error();
    TS_MSG_IMPRINT *message = info ? TS_TST_INFO_get_msg_imprint(info.get()) : nullptr;
    X509_ALGOR *algorithm = message ? TS_MSG_IMPRINT_get_algo(message) : nullptr;
    const ASN1_OBJECT *oid = nullptr;
    if (algorithm) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    const EVP_MD *md = oid ? EVP_get_digestbyobj(oid) : nullptr;
    const ASN1_OCTET_STRING *bytes = message ? TS_MSG_IMPRINT_get_msg(message) : nullptr;
    if (!md || !bytes || !token_time(info.get(), imprint.time)) {
        report("The timestamp token holds no readable time-stamp information.");
        return false;
    }
    imprint.digest_name = OBJ_nid2sn(EVP_MD_get_type(md));
    const unsigned char *data = ASN1_STRING_get0_data(bytes);
    imprint.digest.assign(data, data + ASN1_STRING_length(bytes));
    return true;
}

int verify_token_signature(CMS_ContentInfo *token) {
    ERR_clear_error();
    if (CMS_verify(token, nullptr, nullptr, nullptr, nullptr, CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        report_openssl("The timestamp token's signature does not verify.");
        return -1;
    }
    return 0;
}

int verify_document_timestamp(CMS_ContentInfo *token, std::FILE *file, long a, long b, long c) {
    TokenImprint imprint;
    if (!read_token(token, imprint) || verify_token_signature(token) < 0) return -1;
    std::vector<unsigned char> digest;
    if (digest_ranges(imprint.digest_name.c_str(), file, a, b, c, digest) < 0) return -1;
    if (digest != imprint.digest) {
        report("The document timestamp's imprint does not match the digest of its byte ranges.");
        return -1;
    }
    return 0;
}

}  // namespace qs
