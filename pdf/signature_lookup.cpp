// Finding the signature dictionary of a written file again: the first
// top-level form field whose value carries a /ByteRange.
#include "pdf/signature_lookup.h"

#include <string>

#include <qpdf/QPDFObjectHandle.hh>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "pdf/signature_inventory.h"

namespace qs {

SignatureSearch find_signature_field(QPDF &pdf, bool skip_malformed, SignatureField &out) {
    QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
    if (!form.isDictionary()) return SignatureSearch::None;
    QPDFObjectHandle fields = form.getKey("/Fields");
    if (!fields.isArray()) return SignatureSearch::None;
    for (QPDFObjectHandle field : fields.aitems()) {
        if (!field.isDictionary()) continue;
        QPDFObjectHandle value = field.getKey("/V");
        if (!value.isDictionary() || !value.hasKey("/ByteRange")) continue;
        long range[4];
        if (read_byte_range(value.getKey("/ByteRange"), range)) {
            for (int i = 0; i < 4; ++i) out.range[i] = range[i];
            out.object_number = value.getObjectID();
            return SignatureSearch::Found;
        }
        if (!skip_malformed) return SignatureSearch::Malformed;
    }
    return SignatureSearch::None;
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
