// The changes to the form a signed document may receive: a signature in an
// empty signature field the form brings, and filling in the values of text,
// choice and check-box fields with their appearances. Fields that a
// signature's lock freezes stay as they are, and a certification that allows
// no changes allows no filling either.
#pragma once

#include <string>

#include "crypto/changes/allowed_changes.h"

namespace qs {

// The locks of every signature in the signed revision, and whether one of
// them certifies with no changes allowed (DocMDP /P 1, a lock's /P included).
FormRules form_rules(QPDF &signed_revision);

// Notes the fields of the form the update signs that it does not add (empty
// signature fields the revision before had, with their widgets), and the
// parents of the form that take a field it adds and signs.
void find_signed_form_fields(UpdateContext &context);

// True when the object is one these rules judge: a field or widget the update
// signs or fills, or a parent that takes a new signed field. change then
// names what is not allowed, or is empty.
bool judge_form_object(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after,
                       UpdateContext &context, std::string &change);

// True when a new /NeedAppearances value leaves the fields' appearances as
// they are drawn (false), and filling is allowed.
bool appearances_left_to_fields(QPDFObjectHandle value, UpdateContext &context);

}  // namespace qs
