// The objects that draw a visible signature: a font, an optional image with
// its soft mask, and the form XObjects in layers (the outer form draws a frame
// form, which draws the blank layer "n0" and the content layer "n2").
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include <quillseal/config.h>

#include "pdf/xref_writer.h"

namespace qs {

struct SignatureImageData {
    int width = 0, height = 0, bits = 8;
    const unsigned char *rgb = nullptr;    // width x height x 3 bytes
    const unsigned char *alpha = nullptr;  // width x height bytes, or null for an opaque image
};

struct AppearanceRequest {
    const SigningConfig *config = nullptr;
    std::time_t signing_time = 0;  // the time the modification date was made from
    std::string moddate;           // that date as a PDF date
    std::string name, reason, location;
    int w = 0, h = 0;                          // the signature rectangle's size
    int page_width = 0, page_height = 0;       // upper-right corner of the page box
    const SignatureImageData *image = nullptr;  // null when no image is drawn
};

struct Appearance {
    std::vector<NewObject> objects;  // in file order, numbered consecutively
    int form = 0;                    // the outer appearance form: the widget's /AP /N
    int font = 0;                    // the font object named by font_name
    std::string font_name;           // "/Helv" or "/F1"
};

// The finished signature text: the sigtext template filled with the name,
// reason, location and the visible date (the custom date when the template
// holds "%C", else the display form of the modification date).
std::string appearance_text(const AppearanceRequest &request);

// Builds the appearance objects, taking their numbers from next on. False with
// the message reported when the image description cannot be used.
bool build_appearance(const AppearanceRequest &request, int &next, Appearance &appearance);

}  // namespace qs
