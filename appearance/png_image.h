// Reading the PNG image of a visible signature into a colour plane and an
// alpha plane of 8 bits per sample.
#pragma once

#include "core/base/handles.h"

namespace qs {

// The largest image a signature takes: a header beyond these is refused
// before any memory is reserved for the pixels.
constexpr unsigned kMaxImageSide = 10000;
constexpr unsigned long long kMaxImagePixels = 4000000;

// True when an image of width x height pixels stays within those limits.
inline bool within_image_limits(unsigned long long width, unsigned long long height) {
    return width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxImagePixels;
}

struct PngImage {
    int width = 0, height = 0;
    int bits = 8;                     // bits per sample of both planes
    // Both planes are malloc'd, so that they can be handed to a C caller as they are.
    MallocPtr<unsigned char> rgb;    // 3 bytes a pixel, rows top to bottom
    MallocPtr<unsigned char> alpha;  // 1 byte a pixel; null when the image is opaque
};

// Reads the PNG file at path. Palette, grey and 16-bit images are expanded or
// reduced to 8-bit RGB; transparency (an alpha channel or a tRNS chunk)
// becomes the alpha plane. False with the message reported on failure.
bool read_png(const char *path, PngImage &image);

}  // namespace qs
