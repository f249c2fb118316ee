// Whole documents run through qpdf: the encrypted copy that signing with an
// open password writes, and the plain rewrite callers may ask for.
#include "core/document_rewrite.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <openssl/rand.h>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/text.h"
#include "crypto/hex.h"
#include "pdf/qpdf_api.h"
#include "pdf/signature_lookup.h"

#include <qpdf/QPDFWriter.hh>

namespace qs {
namespace {

constexpr int kOwnerPasswordBytes = 24;

// An owner password nobody knows. An empty one would let anyone open the copy
// as its owner, without any password at all.
bool random_password(std::string &password) {
    unsigned char bytes[kOwnerPasswordBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        report("No random owner password could be made for the encrypted document.");
        return false;
    }
    password = lower_hex(bytes, sizeof bytes);
    return true;
}

// The newest signature's /ByteRange written with numbers as wide as any the
// copy may need, so that its real offsets later fit in the same place.
bool reserve_byte_range(QPDF &pdf) {
    SignatureField field;
    if (find_signature_field(pdf, true, field) != SignatureSearch::Found) {
        report("No signature found!");
        return false;
    }
    long long widest = 0;
    for (int digit = 0; digit < kReservedRangeDigits; ++digit) widest = widest * 10 + 9;
    QPDFObjectHandle range = QPDFObjectHandle::newArray();
    range.appendItem(QPDFObjectHandle::newInteger(0));
    for (int item = 0; item < 3; ++item) range.appendItem(QPDFObjectHandle::newInteger(widest));
    pdf.getObjectByID(field.object_number, 0).replaceKey("/ByteRange", range);
    return true;
}

void write_encrypted(QPDF &pdf, std::FILE *output, const Encryption &encryption, const std::string &owner) {
    const Permissions &p = encryption.permissions;
    QPDFWriter writer(pdf, "encrypted_file", output, false);
    // Stream data passes through as the document holds it, only encrypted:
    // nothing is decoded or compressed again, which would also cost several
    // times the time of the encryption itself on large images.
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(false);
    writer.setR6EncryptionParameters(encryption.user_password.c_str(), owner.c_str(), p.accessibility, p.extract,
                                     p.assemble, p.annotate_and_form, p.form_filling, p.modify_other, p.print,
                                     p.encrypt_metadata);
    writer.write();
}

// Runs body, turning qpdf's exceptions into a report that starts with what.
template <typename Body>
int reporting_qpdf_errors(const char *what, Body &&body) {
    try {
        return body();
    } catch (const QPDFExc &e) {
        // The detail alone: qpdf's full text opens with its own name for the file.
        report(std::string(what) + e.getMessageDetail());
    } catch (const std::exception &e) {
        report(std::string(what) + e.what());
    }
    return -1;
}

}  // namespace

Permissions map_permissions(int accessibility, int extraction, int print, int modify, int metadata) {
    Permissions p;
    p.accessibility = accessibility == 1;
    p.extract = extraction == 1;
    p.encrypt_metadata = metadata == 1;
    p.print = print == 0 ? qpdf_r3p_full : print == 1 ? qpdf_r3p_low : qpdf_r3p_none;
    // Each level allows less than the one before: all changes; annotations and
    // forms; form filling; assembly only; nothing.
    const int level = (modify >= 0 && modify <= 3) ? modify : 4;
    p.modify_other = level == 0;
    p.annotate_and_form = level <= 1;
    p.form_filling = level <= 2;
    p.assemble = level <= 3;
    return p;
}

int permission_value(const char *text) {
    if (!text) return 0;
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        errno = 0;
        return -1;
    }
    return static_cast<int>(value);
}

int refuse_signed_document(std::FILE *input) {
    bool is_signed = false;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile("input_file", input, false, "");
        SignatureField field;
        is_signed = find_signature_field(pdf, true, field) == SignatureSearch::Found;
    } catch (const std::exception &) {
        return 0;
    }
    if (!is_signed) return 0;
    report("The document is signed already, and encrypting it would break that signature; sign it without an "
           "open password.");
    return -1;
}

int encrypt_document(std::FILE *input, std::FILE *output, const Encryption &encryption) {
    std::string owner = encryption.owner_password;
    if (owner.empty() && !random_password(owner)) return -1;
    return reporting_qpdf_errors("The document cannot be encrypted: ", [&]() -> int {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile("prepared_file", input, false, encryption.user_password.c_str());
        if (encryption.reserve_byte_range && !reserve_byte_range(pdf)) return -1;
        write_encrypted(pdf, output, encryption, owner);
        return 0;
    });
}

}  // namespace qs

extern "C" {

QS_API int qpdf_encrypt(FILE *input, FILE *output, const char *owner_password, const char *user_password,
                        int accessibility, int extraction, int print, int modify, int metadata) {
    return qs::guarded([&]() -> int {
        if (!input || !output) {
            qs::report("Missing input or output file for the encryption.");
            return -1;
        }
        qs::Encryption encryption;
        encryption.owner_password = qs::view(owner_password);
        encryption.user_password = qs::view(user_password);
        encryption.permissions = qs::map_permissions(accessibility, extraction, print, modify, metadata);
        return qs::encrypt_document(input, output, encryption);
    });
}

QS_API int qpdf_process(FILE *input, const char *password, FILE *output) {
    return qs::guarded([&]() -> int {
        if (!input || !output) {
            qs::report("Missing input or output file for the rewrite.");
            return -1;
        }
        return qs::reporting_qpdf_errors("The document cannot be rewritten: ", [&]() -> int {
            QPDF pdf;
            pdf.setSuppressWarnings(true);
            pdf.processFile("original_file", input, false, password ? password : "");
            QPDFWriter writer(pdf, "qpdfed_file", output, false);
            writer.setObjectStreamMode(qpdf_o_disable);
            writer.write();
            return 0;
        });
    });
}

}  // extern "C"
