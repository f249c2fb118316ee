// Finding the signature dictionary of a written file again: of the form
// fields whose value carries a /ByteRange, the one whose signed bytes end
// last, which is the newest signature wherever its field sits in the form.
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
// over and the search goes on; without it, such a range ends the search as
// Malformed, since the newest signature cannot be told then.
SignatureSearch find_signature_field(QPDF &pdf, bool skip_malformed, SignatureField &out);

}  // namespace qs
