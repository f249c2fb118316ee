// The fields of a document's interactive form by their fully qualified names:
// the /T of a field and of its parents joined by ".". A field whose /Kids are
// fields of their own is a parent; any other field is terminal, and its
// widgets are the field itself (a field merged with its widget) or its kids.
#pragma once

#include <string>
#include <vector>

#include "pdf/qpdf_api.h"

namespace qs {

// Field trees deeper than this are not looked into; real forms nest a few levels.
constexpr int kDeepestFieldLevel = 32;

// An inheritable entry of a field (/FT, /Ff, /V, /DA): its own, or that of
// the nearest parent that has it; a null object when none has.
QPDFObjectHandle inherited_entry(QPDFObjectHandle field, const std::string &key);

// The fully qualified name of a field, read up its /Parent chain (UTF-8).
std::string qualified_name(QPDFObjectHandle field);

// A field of type /Sig, its own or inherited.
bool is_signature_field(QPDFObjectHandle field);

// A dictionary with /Subtype /Widget.
bool is_widget(QPDFObjectHandle annotation);

// True when the field has kids that are fields of their own.
bool is_parent_field(QPDFObjectHandle field);

struct FormField {
    QPDFObjectHandle field;  // a terminal field
    std::string name;        // fully qualified
    std::vector<QPDFObjectHandle> widgets;
};

// The value of a terminal field: its own /V (or a parent's), else the /V one
// of its widgets holds, where some signing programs write a signature.
QPDFObjectHandle field_value(FormField field);

// Every terminal field of the catalog's form, in document order: /Fields in
// its order, each parent's kids in theirs.
std::vector<FormField> terminal_fields(QPDFObjectHandle catalog);

// What a fully qualified name names in the form.
struct NamedField {
    enum class Kind {
        None,      // nothing, nor a field whose name starts the name
        Terminal,  // a terminal field (in field)
        Parent,    // a parent field (in node)
        Below      // nothing, but the name continues the name of a terminal field (in node)
    } kind = Kind::None;
    FormField field;
    QPDFObjectHandle node;
};

// The field of exactly this name ("Signature1" never names "Signature10").
NamedField find_field(QPDFObjectHandle catalog, const std::string &name);

// The 1-based number of the page that shows the widget: its /P when that is a
// page of the document, else the page whose /Annots lists it; 0 when none does.
int widget_page(QPDF &pdf, QPDFObjectHandle widget);

// The four numbers of a rectangle, ordered lower-left then upper-right; false
// when the value is not an array of four numbers.
bool read_rectangle(QPDFObjectHandle value, double rect[4]);

}  // namespace qs
