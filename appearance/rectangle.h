// The signature rectangle: reading the page box and the rectangle text, and
// correcting the rectangle against the page size.
#pragma once

#include <string_view>

namespace qs {

// A decimal integer read by the rules of atoi (leading white space, optional
// sign, digits; anything else ends it; no digits give 0). Values beyond the
// range of int are held at its limits instead of overflowing.
int leading_int(std::string_view text);

struct PageSize {
    int width = 0;   // upper-right x of the page box
    int height = 0;  // upper-right y of the page box
};

struct SigRect {
    int llx = 0, lly = 0, urx = 0, ury = 0;
};

// Reads the page width and height from a page box text "[x0 y0 x1 y1]".
// Returns false when the text does not hold the four numbers.
bool read_page_box(std::string_view box, PageSize &size);

// The rectangle a signature gets by default: 130 by 40 units, 40 units below
// the top edge and 40 units left of the right edge.
SigRect default_sig_rect(PageSize page);

// Places the rectangle text "[llx lly urx ury]" on the page and corrects it.
// Text that cannot be read leaves the page default in place.
SigRect place_sig_rect(std::string_view sigrect, PageSize page);

}  // namespace qs
