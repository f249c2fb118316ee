// Where a signature field goes in the form: into an empty signature field a
// form brings, chosen by its fully qualified name, or as a new field of a
// name, whose parents are reused where the form has them and made where it
// has not.
#pragma once

#include <string>
#include <vector>

#include "pdf/field_tree.h"
#include "pdf/xref_writer.h"

namespace qs {

// The field a signature is made in.
struct SigningTarget {
    bool existing = false;    // an empty signature field of the form
    QPDFObjectHandle field;   // that field
    QPDFObjectHandle widget;  // and its widget
    std::string name;         // fully qualified; empty: a new field named after the certificate
};

// The target for a signature in the field named name. An empty name, or one
// that no field has, makes a new field. False, with the refusal reported, for
// a field that is signed already, that is no signature field, that holds
// other fields, that has no widget, or that an earlier signature locks; and
// for a new name below a field that holds none.
bool choose_signing_target(QPDFObjectHandle catalog, const std::string &name, SigningTarget &target);

// A new terminal field hung into the form under its fully qualified name.
struct HungField {
    std::string own_name;                     // the field's own /T: the last part of the name
    QPDFObjectHandle parent = QPDFObjectHandle::newNull();  // its /Parent; null at the top of the form
    int top = 0;                              // the number /Fields gains; 0 when an existing parent takes the field
    std::vector<NewObject> new_parents;       // parents made for the name, outermost first
    std::vector<QPDFObjectHandle> rewritten;  // existing objects that gain a kid
};

// Hangs field (its object number) under the parents of name, taking numbers
// for new parents from next on. False, with the refusal reported, when the
// name is taken or continues the name of a field that holds no fields.
bool hang_new_field(QPDFObjectHandle catalog, const std::string &name, int field, int &next, HungField &hung);

}  // namespace qs
