// Which of qpdf's warnings about the input a signature may be built on: a few
// harmless blemishes are accepted, anything else refuses the document.
#pragma once

#include <cstdio>
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

// Reads the input an update is built on, as written: recovery off and
// warnings kept for InputWarnings. Throws with a clear message when the
// password does not open it or qpdf cannot read it; whether an encrypted
// document is acceptable is for the caller to say.
void read_input_strictly(QPDF &pdf, std::FILE *input, const char *password);

// The object a warning of qpdf is about ("object n g", or "xref stream:
// object n g"); false when it names none.
bool warning_object(const QPDFExc &warning, QPDFObjGen &object);

}  // namespace qs
