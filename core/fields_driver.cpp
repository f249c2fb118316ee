// The signature fields of a document as JSON, in document order: each
// field's name, the page and rectangle of its widget, whether it is signed
// and by whom, and the lock its signature sets.
#include <cmath>
#include <cstdlib>
#include <string>

#include <openssl/cms.h>
#include <openssl/err.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "crypto/changes/verifier.h"
#include "crypto/hex.h"
#include "pdf/field_lock.h"
#include "pdf/field_tree.h"
#include "pdf/signature_inventory.h"

namespace {

void put(json_object *object, const char *key, json_object *value) { json_object_object_add(object, key, value); }

// The display name of who made the signature value; empty when its contents say none.
std::string signer_of(QPDFObjectHandle value) {
    QPDFObjectHandle contents = value.getKey("/Contents");
    if (!contents.isString()) return std::string();
    const std::string der = contents.getStringValue();
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    qs::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    std::string name;
    // The signer's certificate is matched among those the signature carries; nothing is verified here.
    if (!cms || CMS_set1_signers_certs(cms.get(), nullptr, 0) < 0 || !qs::signer_display_name(cms.get(), name))
        name.clear();
    ERR_clear_error();
    return name;
}

json_object *lock_json(QPDFObjectHandle field) {
    qs::FieldLock lock;
    if (!qs::read_field_lock(field.getKey("/Lock"), lock)) return nullptr;
    static const char *const kActions[] = {"All", "Include", "Exclude"};
    json_object *object = json_object_new_object();
    put(object, "action", json_object_new_string(kActions[static_cast<int>(lock.action)]));
    json_object *fields = json_object_new_array();
    for (const std::string &name : lock.fields) json_object_array_add(fields, json_object_new_string(name.c_str()));
    put(object, "fields", fields);
    return object;
}

json_object *field_json(QPDF &pdf, qs::FormField &field) {
    json_object *object = json_object_new_object();
    put(object, "name", json_object_new_string(field.name.c_str()));
    QPDFObjectHandle widget = field.widgets.empty() ? QPDFObjectHandle::newNull() : field.widgets.front();
    const int page = widget.isNull() ? 0 : qs::widget_page(pdf, widget);
    put(object, "page", page > 0 ? json_object_new_int(page) : nullptr);
    double rect[4];
    json_object *corners = nullptr;
    if (!widget.isNull() && qs::read_rectangle(widget.getKey("/Rect"), rect)) {
        corners = json_object_new_array();
        for (double corner : rect)
            json_object_array_add(corners, std::fabs(corner) < 1e15 && corner == std::floor(corner)
                                               ? json_object_new_int64(static_cast<long long>(corner))
                                               : json_object_new_double(corner));
    }
    put(object, "rect", corners);
    QPDFObjectHandle value = qs::field_value(field);
    const std::string signer = value.isDictionary() ? signer_of(value) : std::string();
    put(object, "signed", json_object_new_boolean(value.isDictionary()));
    put(object, "signer", signer.empty() ? nullptr : json_object_new_string(signer.c_str()));
    put(object, "lock", lock_json(field.field));
    return object;
}

}  // namespace

extern "C" {

QS_API int signature_fields(const char *input, char **json) {
    return qs::guarded([&]() -> int {
        if (json) *json = nullptr;
        if (!input || !json) {
            qs::report("Missing document or place for the list of fields.");
            return -1;
        }
        qs::FilePtr file = qs::open_input_file(input, qs::OpenFor::Reading,
                                               "The document to list the fields of is not a regular file.");
        if (!file) return -1;
        QPDF pdf;
        if (!qs::read_whole_document(file.get(), pdf)) return -1;
        qs::JsonPtr list(json_object_new_array());
        try {
            for (qs::FormField &field : qs::terminal_fields(pdf.getRoot()))
                if (qs::is_signature_field(field.field)) json_object_array_add(list.get(), field_json(pdf, field));
        } catch (const QPDFExc &e) {
            qs::report(std::string("The document cannot be read as a PDF: ") + e.getMessageDetail());
            return -1;
        }
        *json = qs::malloc_text(json_object_to_json_string_ext(
            list.get(), JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED | JSON_C_TO_STRING_NOSLASHESCAPE));
        if (!*json) {
            qs::report("Out of memory for the list of fields.");
            return -1;
        }
        return 0;
    });
}

}  // extern "C"
