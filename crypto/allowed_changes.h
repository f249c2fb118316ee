// The changes an update made after a signature may bring without touching
// what was signed: a document security store, a new signature field (a
// document timestamp is one) with its widget, and new text in the document
// information dictionary. Every other change to an object the signed
// revision used is named, so that the user learns what is different.
#pragma once

#include <set>
#include <string>

#include "crypto/object_uses.h"
#include "pdf/qpdf_api.h"

namespace qs {

struct UpdateContext {
    QPDF &before;                             // the revision before the update
    QPDF &after;                              // the revision the update makes
    std::set<QPDFObjGen> added;               // objects the update defines that were not defined before
    std::set<QPDFObjGen> signature_fields;    // added signature fields the update lists in /Fields
    std::set<QPDFObjGen> signature_widgets;   // the widget annotations of those fields
};

// Fills the context's signature fields and widgets from the form of the
// revision after the update; the added objects must be known.
void find_added_signature_fields(UpdateContext &context);

// What the update changed in the trailer (the catalog it points to, the
// encryption, the information dictionary), or an empty text.
std::string judge_trailer(UpdateContext &context);

// What the update changed about an object with this use, or an empty text
// when the change is one that leaves the signed document as it was. before
// is a null object when the earlier revision referred to the object without
// defining it.
std::string judge_object(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after,
                         UpdateContext &context);

}  // namespace qs
