// Finding the signature dictionary of a written file again: the first
// top-level form field whose value carries a /ByteRange. The signature update
// puts its new field first, so this is the newest signature.
#pragma once

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include <qpdf/QPDF.hh>

namespace qs {

enum class SignatureSearch { Found, None, Malformed };

struct SignatureField {
    long range[4] = {-1, -1, -1, -1};
    int object_number = 0;  // of the signature dictionary
};

// With skip_malformed, a /ByteRange that is not exactly four integers is passed
// over and the search goes on; without it, such a range ends the search as Malformed.
SignatureSearch find_signature_field(QPDF &pdf, bool skip_malformed, SignatureField &out);

}  // namespace qs
