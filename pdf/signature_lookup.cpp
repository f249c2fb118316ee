// Finding the signature dictionary of a written file again: the form field
// whose value carries the /ByteRange that ends last.
#include "pdf/signature_lookup.h"

#include <string>

#include <qpdf/QPDFObjectHandle.hh>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "pdf/field_tree.h"
#include "pdf/signature_inventory.h"

namespace qs {

SignatureSearch find_signature_field(QPDF &pdf, bool skip_malformed, SignatureField &out) {
    // Signatures may sit in any field of the form, at any depth, in any
    // order: the newest is the one whose signed bytes end last.
    SignatureSearch result = SignatureSearch::None;
    for (FormField &field : terminal_fields(pdf.getRoot())) {
        QPDFObjectHandle value = field_value(field);
        if (!value.isDictionary() || !value.hasKey("/ByteRange")) continue;
        long range[4];
        if (!read_byte_range(value.getKey("/ByteRange"), range)) {
            if (!skip_malformed) return SignatureSearch::Malformed;
            continue;
        }
        if (result == SignatureSearch::Found && range[2] + range[3] <= out.range[2] + out.range[3]) continue;
        for (int i = 0; i < 4; ++i) out.range[i] = range[i];
        out.object_number = value.getObjectID();
        result = SignatureSearch::Found;
    }
    return result;
}

}  // namespace qs

extern "C" {

QS_API int qpdf_get_byte_range(FILE *file, const char *password, long range[4], int *object_number) {
    return qs::guarded([&]() -> int {
        if (range)
            for (int i = 0; i < 4; ++i) range[i] = -1;
        if (!file || !range) {
            qs::report("No signature found!");
            return -1;
        }
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        try {
            pdf.processFile("signed document", file, false, password ? password : "");
        } catch (const std::exception &e) {
            qs::report(std::string("The document cannot be read: ") + e.what());
            return -1;
        }
        qs::SignatureField found;
        if (qs::find_signature_field(pdf, true, found) != qs::SignatureSearch::Found) {
            qs::report("No signature found!");
            return -1;
        }
        for (int i = 0; i < 4; ++i) range[i] = found.range[i];
        if (object_number) *object_number = found.object_number;
        return 0;
    });
}

}  // extern "C"
