// The signature image: a PNG file read with libpng. libpng reports its errors
// by jumping back to the last setjmp; each function below that sets one holds
// only trivially destructible locals, and everything with a destructor lives
// in its caller, so that a jump never passes over a destructor.
#include "appearance/png_image.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <quillseal/appearance.h>
#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"

namespace {

constexpr std::size_t kSignatureBytes = 8;

struct Header {
    png_uint_32 width = 0, height = 0;
    int bits = 0, colour = 0;
};

// Reads the header chunks. False when libpng reports an error.
bool read_header(std::FILE *file, png_structp png, png_infop info, Header &header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_sig_bytes(png, static_cast<int>(kSignatureBytes));
    png_read_info(png, info);
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    header.bits = png_get_bit_depth(png, info);
    header.colour = png_get_color_type(png, info);
    return true;
}

// Asks libpng for 8-bit RGB samples, with an alpha sample when the image has
// any transparency. channels receives 3 or 4 and rowbytes the size of a row.
bool set_transforms(png_structp png, png_infop info, const Header &header, int &channels, std::size_t &rowbytes) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (header.colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if ((header.colour & PNG_COLOR_MASK_COLOR) == 0 && header.bits < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (header.bits == 16) png_set_scale_16(png);
    if ((header.colour & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    channels = png_get_channels(png, info);
    rowbytes = png_get_rowbytes(png, info);
    return png_get_bit_depth(png, info) == 8;
}

bool read_rows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

bool is_png(std::FILE *file) {
    unsigned char signature[kSignatureBytes];
    return std::fread(signature, 1, kSignatureBytes, file) == kSignatureBytes &&
           png_sig_cmp(signature, 0, kSignatureBytes) == 0;
}

// Splits interleaved RGB or RGBA rows into the colour plane and the alpha plane.
bool split_planes(const std::vector<unsigned char> &pixels, int channels, qs::PngImage &image) {
    const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    image.rgb.reset(static_cast<unsigned char *>(std::malloc(count * 3)));
    if (channels == 4) image.alpha.reset(static_cast<unsigned char *>(std::malloc(count)));
    if (!image.rgb || (channels == 4 && !image.alpha)) return false;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char *p = &pixels[i * static_cast<std::size_t>(channels)];
        std::memcpy(&image.rgb.get()[i * 3], p, 3);
        if (channels == 4) image.alpha.get()[i] = p[3];
    }
    return true;
}

}  // namespace

namespace qs {

bool read_png(const char *path, PngImage &image) {
    FilePtr file = open_input_file(path);
    if (!file) return false;
    if (!is_png(file.get())) {
        report("Not a PNG file!");
        return false;
    }
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!reader.png) {
        report("png_create_read_struct failed");
        return false;
    }
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) {
        report("png_create_info_struct failed");
        return false;
    }
    Header header;
    if (!read_header(file.get(), reader.png, reader.info, header)) {
        report("Error during png_init_io");
        return false;
    }
    if (!within_image_limits(header.width, header.height)) {
        report(format("The signature image is too large: %u x %u pixels (at most %u on a side and %llu in all).",
                      header.width, header.height, kMaxImageSide, kMaxImagePixels));
        return false;
    }
    int channels = 0;
    std::size_t rowbytes = 0;
    if (!set_transforms(reader.png, reader.info, header, channels, rowbytes) || (channels != 3 && channels != 4) ||
        rowbytes != static_cast<std::size_t>(header.width) * static_cast<std::size_t>(channels)) {
        report("Error during png_init_io");
        return false;
    }
    std::vector<unsigned char> pixels(rowbytes * header.height);
    std::vector<png_bytep> rows(header.height);
    for (png_uint_32 r = 0; r < header.height; ++r) rows[r] = &pixels[r * rowbytes];
    if (!read_rows(reader.png, rows.data())) {
        report("Error during png_read_image");
        return false;
    }
    image.width = static_cast<int>(header.width);
    image.height = static_cast<int>(header.height);
    image.bits = 8;
    if (!split_planes(pixels, channels, image)) {
        report("Out of memory while reading the signature image.");
        return false;
    }
    return true;
}

}  // namespace qs

extern "C" {

QS_API int get_png_data(const char *path, int *width, int *height, int *bitsPerComponent, unsigned char **rgb,
                        unsigned char **alpha) {
    return qs::guarded([&]() -> int {
        if (rgb) *rgb = nullptr;
        if (alpha) *alpha = nullptr;
        if (!path || !width || !height || !bitsPerComponent || !rgb || !alpha) {
            qs::report("Missing image path or result places for the signature image.");
            return -1;
        }
        qs::PngImage image;
        if (!qs::read_png(path, image)) return -1;
        *width = image.width;
        *height = image.height;
        *bitsPerComponent = image.bits;
        *rgb = image.rgb.release();
        *alpha = image.alpha.release();
        return 0;
    });
}

}  // extern "C"
