// Which of qpdf's warnings about the input a signature may be built on: a few
// harmless blemishes are accepted, anything else refuses the document.
#pragma once

#include <set>
#include <vector>

#include "pdf/qpdf_api.h"

namespace qs {

// The warnings qpdf gave while the input was read, kept until the update
// knows which of the input's objects it writes again or relies on.
class InputWarnings {
public:
    // Takes the warnings qpdf gave since the last call. Throws for the first
    // that means an object was not read as written.
    void collect(QPDF &pdf);

    // Throws for the first kept warning about one of objects, those the update
    // writes again or relies on: a blemish there would be repeated, repaired
    // silently, or read otherwise than other readers read it.
    void refuse_about(const std::set<QPDFObjGen> &objects) const;

private:
    std::vector<QPDFExc> kept_;
};

// The object a warning of qpdf is about ("object n g", or "xref stream:
// object n g"); false when it names none.
bool warning_object(const QPDFExc &warning, QPDFObjGen &object);

}  // namespace qs
