// The changes an update made after a signature may bring without touching
// what was signed: a document security store, a new signed signature field (a
// document timestamp is one) with its widget, new text in the document
// information dictionary, and with that text the XMP metadata refreshed.
// Every other change to an object the signed revision used is named, so that
// the user learns what is different.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "crypto/changes/object_uses.h"
#include "pdf/field_lock.h"
#include "pdf/qpdf_api.h"

namespace qs {

// The kinds of change an allowed update brought.
enum UpdateKind : unsigned {
    kUpdateSignature = 1u << 0,      // a further signature
    kUpdateTimestamp = 1u << 1,      // a document timestamp
    kUpdateSecurityStore = 1u << 2,  // validation data in the document security store
    kUpdateInformation = 1u << 3,    // new text in the document information dictionary
    kUpdateMetadata = 1u << 4,       // the XMP metadata, refreshed with that text
    kUpdateFormFilling = 1u << 5     // values of unlocked text, choice and check-box fields, with their appearances
};

// Where the update lies in the file.
struct UpdateBounds {
    long start = 0;  // its first byte
    long eof = 0;    // just past its "%%EOF"
    long end = 0;    // just past the line end after that
};

// What the signatures of the signed revision say of the form: the fields
// their locks freeze, and whether a certification allows no form filling.
struct FormRules {
    std::vector<FieldLock> locks;
    bool filling_allowed = true;
};

struct UpdateContext {
    QPDF &before;                             // the revision before the update
    QPDF &after;                              // the revision the update makes
    UpdateBounds bounds;
    std::set<QPDFObjGen> added;               // objects the update defines that were not defined before
    std::set<QPDFObjGen> signature_fields;    // added signed signature fields the update lists in /Fields
    std::set<QPDFObjGen> signature_widgets;   // the widget annotations of those fields
    bool information_changed = false;         // the document information has new text
    unsigned kinds = 0;                       // UpdateKind of the changes let pass
    std::FILE *file = nullptr;                // the document, to verify the signatures an update adds
    FormRules rules = FormRules();            // the locks and filling rights in force
    std::set<QPDFObjGen> signed_fields = {};  // empty signature fields of the form the update signs, and their widgets
    std::set<QPDFObjGen> grown_parents = {};  // parent fields of the form that take an added signed field
};

// The keys whose values differ between two dictionaries (a missing key
// counts as a null value).
std::vector<std::string> changed_keys(QPDFObjectHandle before, QPDFObjectHandle after);

// True when after holds the items of before, in their order, and besides
// them only references to objects in allowed.
bool gains_only(QPDFObjectHandle before, QPDFObjectHandle after, const std::set<QPDFObjGen> &allowed);

// A signature value whose byte range covers the whole update at bounds and
// whose contents hold something: the field was signed in that update.
bool signed_over(QPDFObjectHandle value, const UpdateBounds &bounds);

// The signature value verifies, cryptographically, over its own ranges of
// the revision that ends at context's bounds: only then does a signature an
// update adds, in a new field or in an empty one of the form, count as one.
bool verifies_over_own_ranges(QPDFObjectHandle value, const UpdateContext &context);

// Fills the context's signature fields and widgets from the form of the
// revision after the update: the added fields whose value is a signature
// that covers the update and verifies over its own ranges, which must be
// known with the added objects. A field whose signature does not verify is
// unsigned content.
void find_added_signature_fields(UpdateContext &context);

// What the update changed in the trailer (the catalog it points to, the
// encryption, the information dictionary), or an empty text. Notes whether
// the document information has new text.
std::string judge_trailer(UpdateContext &context);

// What the update changed about an object with this use, or an empty text
// when the change is one that leaves the signed document as it was. before
// is a null object when the earlier revision referred to the object without
// defining it.
std::string judge_object(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after,
                         UpdateContext &context);

}  // namespace qs
