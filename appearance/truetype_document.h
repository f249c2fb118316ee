// Text with characters beyond ASCII drawn with an embedded TrueType font:
// libharu makes a one-page PDF that shows the text, whose page content and
// font objects the appearance then takes over.
#pragma once

#include <string>
#include <string_view>

#include <quillseal/config.h>

namespace qs {

// Where the font of the TrueType route is looked for when sigfont is empty:
// the usual path first, then the one Debian installs fonts-dejavu-core to.
constexpr const char *kDefaultFontPaths[] = {"/usr/share/fonts/dejavu/DejaVuSans.ttf",
                                             "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};

// True when text has a byte of 0x80 or above.
bool needs_truetype(std::string_view text);

// The font file for the TrueType route: sigfont, else the first default path
// that names a regular file. Empty, with a debug line, when there is none.
std::string truetype_font_path(const SigningConfig &config);

// libharu's PDF of one page of W x H showing the text's lines in a box of
// height h (first baseline h + 2 - leading). False, with a debug line, when
// libharu fails.
bool truetype_document(const SigningConfig *config, std::string_view text, const char *font, int W, int H, int h,
                       std::string &pdf);

}  // namespace qs
