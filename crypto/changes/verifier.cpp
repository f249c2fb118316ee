// Verification of a signed document: each signature's byte range must frame
// its contents inside the file, and its CMS object must verify against the
// signed bytes, which are streamed from the file. The updates after each
// signature must leave what it signed as it was. The newest signer's display
// name travels back through the message slot.
#include "crypto/changes/verifier.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <openssl/err.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "crypto/changes/signature_judgement.h"
#include "crypto/changes/signed_ranges.h"
#include "crypto/digest.h"
#include "crypto/hex.h"
#include "crypto/timestamps/timestamp_check.h"
#include "pdf/signature_inventory.h"

namespace qs {
namespace {

std::string range_text(const long range[4]) {
    return "[" + decimal(range[0]) + " " + decimal(range[1]) + " " + decimal(range[2]) + " " +
           decimal(range[3]) + "]";
}

int byte_at(std::FILE *file, long offset) {
    if (std::fseek(file, offset, SEEK_SET) != 0) return EOF;
    return std::fgetc(file);
}

// The first queued OpenSSL error in the library's one-line form; the queue is emptied.
void report_first_openssl_error(const char *fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        report(fallback);
        return;
    }
    char text[kTextField];
    ERR_error_string_n(code, text, sizeof text);
    report(text);
}

CmsPtr decode_cms(const std::vector<unsigned char> &der) {
    if (der.size() > static_cast<std::size_t>(INT_MAX)) {
        report("The signature contents are too large.");
        return nullptr;
    }
    static const unsigned char kNothing = 0;
    BioPtr bio(BIO_new_mem_buf(der.empty() ? &kNothing : der.data(), static_cast<int>(der.size())));
    if (!bio) {
        report("Error in BIO_new_mem_buf()...");
        return nullptr;
    }
    CmsPtr cms(d2i_CMS_bio(bio.get(), nullptr));
    if (!cms) {
        ERR_clear_error();
        report("Error in d2i_CMS_bio()...");
    }
    return cms;
}

// A detached signature: the signed ranges are the content whose digest the
// signed attributes carry. The content is binary: without CMS_BINARY OpenSSL
// would rewrite every line ending to CRLF before hashing, and no document
// with a bare line feed would ever verify.
int verify_detached(CMS_ContentInfo *cms, std::FILE *file, long a, long b, long c) {
    SignedRangeReader reader(file, a, b, c);
    BioPtr content = signed_range_bio(reader);
    if (!content) {
        report_first_openssl_error("Error creating the signed range stream...");
        return -1;
    }
    const int verified = CMS_verify(cms, nullptr, nullptr, content.get(), nullptr,
                                    CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY);
    if (reader.failed()) {
        ERR_clear_error();
        report("Error reading the signed byte ranges of the file...");
        return -1;
    }
    if (verified != 1) {
        report_first_openssl_error("The signature does not verify.");
        return -1;
    }
    return 0;
}

// An encapsulated signature signs its own content, which must be the SHA-1
// digest of the signed ranges.
int verify_encapsulated(CMS_ContentInfo *cms, std::FILE *file, long a, long b, long c) {
    if (CMS_verify(cms, nullptr, nullptr, nullptr, nullptr, CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        report_first_openssl_error("The signature does not verify.");
        return -1;
    }
    std::vector<unsigned char> digest;
    if (digest_ranges("SHA1", file, a, b, c, digest) < 0) return -1;
    ASN1_OCTET_STRING **content = CMS_get0_content(cms);
    const bool same = content && *content &&
                      static_cast<std::size_t>(ASN1_STRING_length(*content)) == digest.size() &&
                      std::memcmp(ASN1_STRING_get0_data(*content), digest.data(), digest.size()) == 0;
    if (!same) {
        report("The signed digest does not match the SHA-1 digest of the signed byte ranges.");
        return -1;
    }
    return 0;
}

}  // namespace

int find_newest_signature(std::FILE *file, long range[4]) {
    for (int i = 0; i < 4; ++i) range[i] = -1;
    QPDF pdf;
    if (!read_whole_document(file, pdf)) return -1;
    std::vector<SignatureEntry> entries;
    try {
        entries = list_signatures(pdf);
    } catch (const std::exception &e) {
        report(std::string("The document cannot be read as a PDF: ") + e.what());
        return -1;
    }
    if (entries.empty()) {
        report("No signature found!");
        return -1;
    }
    if (!entries.back().range_readable) {
        report("The /ByteRange of the newest signature is not an array of four integers.");
        return -1;
    }
    for (int i = 0; i < 4; ++i) range[i] = entries.back().range[i];
    return 0;
}

int check_signed_layout(std::FILE *file, long size, const long range[4]) {
    const long a = range[1], b = range[2], c = range[3];
    if (range[0] != 0 || a <= 0 || b < a + 2 || c < 0) {
        report("The signature byte range " + range_text(range) + " is malformed.");
        return -1;
    }
    if (b > size || c > size - b) {
        report("The signature byte range " + range_text(range) + " points outside the file (" +
               decimal(size) + " bytes).");
        return -1;
    }
    if (byte_at(file, a) != '<' || byte_at(file, b - 1) != '>') {
        report("The signature byte range " + range_text(range) +
               " does not frame the signature contents.");
        return -1;
    }
    return 0;
}

int read_signature_bytes(std::FILE *file, long a, long b, std::vector<unsigned char> &der) {
    char *raw = nullptr;
    long length = 0;
    if (get_internal_range(file, a, b, &raw, &length) < 0) return -1;
    MallocPtr<char> digits(raw);
    const std::string_view text(digits.get(), static_cast<std::size_t>(length));
    auto bytes = parse_hex_pairs(text);
    // An odd count leaves one filler digit over; it must still be a digit.
    if (!bytes || (text.size() % 2 == 1 && !std::isxdigit(static_cast<unsigned char>(text.back())))) {
        report("The signature contents are not a hexadecimal string.");
        return -1;
    }
    der = std::move(*bytes);
    return 0;
}

int verify_cms(CMS_ContentInfo *cms, std::FILE *file, long a, long b, long c) {
    ERR_clear_error();
    if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed) {
        report("The signature is not a CMS SignedData object.");
        return -1;
    }
    if (CMS_is_detached(cms) == 1) return verify_detached(cms, file, a, b, c);
    return verify_encapsulated(cms, file, a, b, c);
}

bool signer_display_name(CMS_ContentInfo *cms, std::string &name) {
    X509StackViewPtr signers(CMS_get0_signers(cms));
    if (!signers || sk_X509_num(signers.get()) < 1) return false;
    char subject[kTextField] = "";
    X509_NAME_oneline(X509_get_subject_name(sk_X509_value(signers.get(), 0)), subject, sizeof subject);
    char display[kTextField] = "";
    get_x509_subject_name(subject, display);
    name = display;
    return true;
}

int verify_signature_at(std::FILE *file, long size, const long range[4], bool document_timestamp, CmsPtr &cms) {
    cms.reset();
    if (check_signed_layout(file, size, range) < 0) return -1;
    const long a = range[1], b = range[2], c = range[3];
    std::vector<unsigned char> der;
    if (read_signature_bytes(file, a, b, der) < 0) return -1;
    cms = decode_cms(der);
    if (!cms) return -1;
    // A document timestamp's contents are the timestamp token itself.
    if (document_timestamp || is_timestamp_token(cms.get())) return verify_document_timestamp(cms.get(), file, a, b, c);
    return verify_cms(cms.get(), file, a, b, c);
}

int verify_signed_file(std::FILE *file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        report("The document to verify is not a regular file.");
        return -1;
    }
    const long size = static_cast<long>(info.st_size);
    if (size == 0) {
        report("The document to verify is empty.");
        return -1;
    }
    QPDF pdf;
    std::vector<SignatureJudgement> judged;
    if (!read_whole_document(file, pdf) || !judge_signatures(file, size, pdf, judged)) return -1;
    if (refuse_unsound(judged) < 0) return -1;
    std::string name;
    if (signer_display_name(judged.back().cms.get(), name)) report(name);
    return 0;
}

}  // namespace qs

extern "C" {

QS_API int verify(const char *input, const char *configuration) {
    return qs::guarded([&]() -> int {
        SigningConfig *raw = nullptr;
        const int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc < 0) {
            // Verification needs no key store: the configuration's complaint is dropped.
            char scratch[qs::kTextField];
            handle_error_message(scratch, 0);
        }
        return verify_internal(input, config.get());
    });
}

QS_API int verify_internal(const char *input, SigningConfig *) {
    return qs::guarded([&]() -> int {
        if (!input) {
            qs::report("No document to verify was given.");
            return -1;
        }
        qs::FilePtr file =
            qs::open_input_file(input, qs::OpenFor::Reading, "The document to verify is not a regular file.");
        if (!file) return -1;
        return qs::verify_signed_file(file.get());
    });
}

}  // extern "C"
