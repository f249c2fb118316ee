// The signature field in the document structure: the widget annotation, the
// interactive form of the catalog, the page's /Annots, the DocMDP check, and
// the catalog's developer extension.
#pragma once

#include <string>
#include <vector>

#include "pdf/qpdf_api.h"

namespace qs {

// True when the catalog carries a certification (DocMDP with /P 1). The
// indirect objects the answer was read from are added to consulted.
bool is_certified(QPDFObjectHandle catalog, std::vector<QPDFObjGen> *consulted = nullptr);

// True when the document carries a signature already: a form field whose
// value is a signature, or a signature named in the catalog's /Perms.
bool carries_signature(QPDFObjectHandle catalog);

struct WidgetFields {
    int signature = 0;  // object number V of the signature dictionary; 0 for an empty field
    QPDFObjectHandle page;
    int flags = 132;    // /F: print and locked
    int llx = 0, lly = 0, urx = 0, ury = 0;
    std::string serial;  // the signer certificate's serial number
    std::string title;   // the field name; empty: "Signature with certificate <serial>"
    QPDFObjectHandle parent = QPDFObjectHandle::newNull();  // the parent field; null at the top of the form
    QPDFObjectHandle lock = QPDFObjectHandle::newNull();    // the field's /Lock; null for none
    // A visible signature's outer appearance form and its font resource
    // (font_name "/Helv" or "/F1"); appearance 0 for an invisible signature.
    int appearance = 0;
    int font = 0;
    std::string font_name;
};

// The widget annotation that is the signature field.
QPDFObjectHandle widget_annotation(const WidgetFields &fields);

// Puts field number first in the catalog's interactive form (written inline;
// field 0 when the form has the field in its tree already),
// sets /SigFlags 3, /Perms for a certification, and the "/Quillseal" mark when
// the document carries no signature yet (a later key in a signed catalog is a
// change its signatures do not allow).
// Indirect objects that were changed and must be written again are returned.
std::vector<QPDFObjectHandle> add_field_to_catalog(QPDFObjectHandle catalog, int field,
                                                   bool certify, int signature);

// Names the appearance font in the default resources (/DR /Font) of the
// catalog's interactive form, which add_field_to_catalog has made direct,
// unless the form has a font of that name already. An
// indirect /DR or /DR /Font that receives the entry is returned, to be written again.
std::vector<QPDFObjectHandle> add_font_to_form(QPDFObjectHandle catalog, const std::string &font_name, int font);

// Raises the catalog's /Extensions /ADBE to /BaseVersion /1.7 and the given
// /ExtensionLevel; a level already as high stays as it is, and the
// extensions of other developers are kept.
void set_adbe_extension(QPDFObjectHandle catalog, int level);

// Appends a reference to field number to the page's /Annots (made direct).
void add_widget_to_page(QPDFObjectHandle page, int field);

}  // namespace qs
