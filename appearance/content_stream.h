// The content stream of a visible signature's content layer: the image
// placement and the signature text, in a coordinate system whose origin is
// the lower-left corner of the signature rectangle.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The signature text split into lines, with the leading and font size that
// fit them into a box of height h.
struct TextLayout {
    std::vector<std::string> lines;
    int leading = 0;
    int font_size = 1;
};

// Lines at each "\n" (a "\r" just before a line's end dropped); leading h / n,
// font size 0.8 of the leading and below it, never less than 1.
TextLayout layout_text(std::string_view text, int h);

// "q <matrix> cm /Im0 Do Q ": an iw x ih image scaled into the w x h box and
// centred across its longer free side. Empty when the box or image is empty.
std::string image_placement(int w, int h, int iw, int ih);

// The text drawn with the Helvetica resource /Helv.
std::string helvetica_text(std::string_view text, int h);

// The whole content stream before compression: the image part when image is
// set, then truetype (the text drawn through an embedded font) or, when that
// is empty, the Helvetica text.
std::string content_stream(std::string_view text, bool image, int w, int h, int iw, int ih,
                           std::string_view truetype = {});

}  // namespace qs
