// What the appearance takes over from libharu's one-page document: the page's
// content (the drawn text) and the six objects of its composite font,
// renumbered as new objects of the signature update.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pdf/xref_writer.h"

namespace qs {

struct TrueTypeText {
    // Font file, descriptor, CIDToGIDMap, CIDFont, ToUnicode and Type0 font,
    // numbered first to first + 5 and referring to each other by those numbers.
    std::vector<NewObject> objects;
    int font = 0;         // the Type0 font, named /F1 in the appearance
    std::string content;  // the page's content stream, decoded
};

// Takes the page content and the font objects of the document pdf. False,
// with out left as it was, when the document does not have the shape libharu
// writes (no indirect content, no font /F1, one of the six objects missing,
// or a reference to any other object), since such objects could not be
// copied on their own.
bool take_truetype_text(std::string_view pdf, int first, TrueTypeText &out);

}  // namespace qs
