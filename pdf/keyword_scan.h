// The keywords by which a reader that rebuilds a damaged file finds objects
// and trailers, looked for in the bytes of one update. A reader rebuilds when
// any cross-reference row of the file, old or new, leads it astray; it then
// takes every "n g obj" it meets, the last one of a number winning, and the
// last trailer. So an update may hold these keywords only where its own
// cross-reference section says they are.
#pragma once

#include <cstdio>
#include <set>
#include <vector>

#include "pdf/xref_section.h"

namespace qs {

struct KeywordPlaces {
    std::set<long> objects;   // the "o" of each "obj" of a listed object header
    std::set<long> sections;  // each "xref" and "trailer" keyword of the section itself
};

struct KeywordSighting {
    long offset = -1;  // -1: none
    const char *keyword = "";
};

// The first "obj", "xref" or "trailer" keyword in the bytes update of file
// that is not at one of the expected places. Outside stream data every occurrence counts as a keyword that a
// tokenizing reader could take, however it is surrounded. Inside the data of
// the streams in data (each known to end right before its "endstream") only
// what a reader scanning line by line takes counts: "n g obj", or "xref" or
// "trailer" at the start of a line; if such data hold "endstream" themselves,
// readers may disagree on where they end, and everything counts there too.
KeywordSighting first_unexpected_keyword(std::FILE *file, ByteSpan update, std::vector<ByteSpan> data,
                                         const KeywordPlaces &expected);

}  // namespace qs
