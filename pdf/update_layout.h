// Whether one incremental update is laid out so that every reader resolves it
// alike: its cross-reference section describes its body exactly, and its
// object streams hold each object once, where the section says.
#pragma once

#include <cstdio>
#include <string>

#include "pdf/qpdf_api.h"

namespace qs {

// Object numbers stay below this: the largest /Size the readers in common use
// accept before they give up the table and rebuild it.
constexpr long long kMaxObjectNumbers = 8388608;

// One update: bytes [start, end) after the revision before it, whose
// "startxref" names section; the revision before it ends with the section at
// previous_section.
struct UpdatePlace {
    long start = 0;
    long end = 0;
    long section = 0;
    long previous_section = 0;
};

// The first way in which the update's layout leaves room for readers to read
// it differently, as a phrase for a message; an empty text when there is none.
// before is the revision before the update and after the one it makes, both
// read by qpdf.
std::string update_layout_problem(std::FILE *file, const UpdatePlace &place, QPDF &before, QPDF &after);

}  // namespace qs
