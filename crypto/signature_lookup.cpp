// Finding the signature dictionary of a written file again: the first
// top-level form field whose value carries a /ByteRange.
#include <string>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <quillseal/crypto.h>

#include "core/guard.h"

namespace {

bool read_range(QPDFObjectHandle range, long out[4]) {
    if (!range.isArray() || range.getArrayNItems() < 4) return false;
    for (int i = 0; i < 4; ++i)
        if (!range.getArrayItem(i).isInteger()) return false;
    for (int i = 0; i < 4; ++i) out[i] = static_cast<long>(range.getArrayItem(i).getIntValue());
    return true;
}

bool find_signature(QPDF &pdf, long range[4], int *object_number) {
    QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
    if (!form.isDictionary()) return false;
    QPDFObjectHandle fields = form.getKey("/Fields");
    if (!fields.isArray()) return false;
    for (QPDFObjectHandle field : fields.aitems()) {
        if (!field.isDictionary()) continue;
        QPDFObjectHandle value = field.getKey("/V");
        if (!value.isDictionary()) continue;
        if (object_number) *object_number = value.getObjectID();
        if (read_range(value.getKey("/ByteRange"), range)) return true;
    }
    return false;
}

}  // namespace

extern "C" {

QS_API int qpdf_get_byte_range(FILE *file, const char *password, long range[4], int *object_number) {
    return qs::guarded([&]() -> int {
        long found[4] = {-1, -1, -1, -1};
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
        if (!find_signature(pdf, found, object_number)) {
            qs::report("No signature found!");
            return -1;
        }
        for (int i = 0; i < 4; ++i) range[i] = found[i];
        return 0;
    });
}

}  // extern "C"
