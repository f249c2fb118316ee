// The appearance objects of a visible signature. Text with characters beyond
// ASCII is drawn with an embedded TrueType font when the font and libharu
// allow it; otherwise, and for plain ASCII, with the standard font Helvetica.
#include "pdf/appearance_objects.h"

#include <quillseal/core.h>

#include "appearance/content_stream.h"
#include "appearance/dates.h"
#include "appearance/flate.h"
#include "appearance/png_image.h"
#include "appearance/signature_text.h"
#include "appearance/truetype_document.h"
#include "core/base/guard.h"
#include "core/base/text.h"
#include "pdf/truetype_objects.h"

namespace qs {

namespace {

constexpr const char *kBlankLayer = "% DSBlank ";
constexpr const char *kFrameContent = "q 1 0 0 1 0 0 cm /n0 Do Q q 1 0 0 1 0 0 cm /n2 Do Q ";
constexpr const char *kOuterContent = "/FRM Do";

QPDFObjectHandle name(const char *text) { return QPDFObjectHandle::newName(text); }
QPDFObjectHandle integer(long long value) { return QPDFObjectHandle::newInteger(value); }

QPDFObjectHandle box(int llx, int lly, int urx, int ury) {
    QPDFObjectHandle array = QPDFObjectHandle::newArray();
    for (int v : {llx, lly, urx, ury}) array.appendItem(integer(v));
    return array;
}

// A dictionary of one entry that refers to a new object.
QPDFObjectHandle refers(const char *key, int number) {
    QPDFObjectHandle dictionary = QPDFObjectHandle::newDictionary();
    dictionary.replaceKey(key, forward_reference(number));
    return dictionary;
}

QPDFObjectHandle xobject(const char *subtype) {
    QPDFObjectHandle dictionary = QPDFObjectHandle::newDictionary();
    dictionary.replaceKey("/Type", name("/XObject"));
    dictionary.replaceKey("/Subtype", name(subtype));
    return dictionary;
}

QPDFObjectHandle form(QPDFObjectHandle bbox) {
    QPDFObjectHandle dictionary = xobject("/Form");
    dictionary.replaceKey("/BBox", bbox);
    dictionary.replaceKey("/Filter", name("/FlateDecode"));
    return dictionary;
}

NewObject helvetica(int number) {
    QPDFObjectHandle font = QPDFObjectHandle::newDictionary();
    font.replaceKey("/Type", name("/Font"));
    font.replaceKey("/Subtype", name("/Type1"));
    font.replaceKey("/BaseFont", name("/Helvetica"));
    font.replaceKey("/Encoding", name("/WinAnsiEncoding"));
    font.replaceKey("/Name", name("/Helv"));
    NewObject object;
    object.number = number;
    object.dictionary = serialize(font);
    return object;
}

NewObject image_object(int number, const SignatureImageData &image, const char *colour_space,
                       const unsigned char *samples, std::size_t per_pixel, int soft_mask) {
    QPDFObjectHandle dictionary = xobject("/Image");
    dictionary.replaceKey("/Width", integer(image.width));
    dictionary.replaceKey("/Height", integer(image.height));
    dictionary.replaceKey("/ColorSpace", name(colour_space));
    dictionary.replaceKey("/BitsPerComponent", integer(image.bits));
    dictionary.replaceKey("/Filter", name("/FlateDecode"));
    if (soft_mask != 0) dictionary.replaceKey("/SMask", forward_reference(soft_mask));
    const std::size_t size =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * per_pixel;
    return new_stream(number, dictionary,
                      deflate_bytes(std::string_view(reinterpret_cast<const char *>(samples), size)));
}

bool usable_image(const SignatureImageData &image) {
    if (!image.rgb || image.width <= 0 || image.height <= 0 || image.bits != 8 ||
        !within_image_limits(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height))) {
        report("The signature image must have 8 bits per sample, colour samples and a size of at most " +
               decimal(kMaxImageSide) + " pixels on a side and " + decimal(kMaxImagePixels) + " in all.");
        return false;
    }
    return true;
}

void debug(const SigningConfig *config, const char *text) {
    handle_debug_message(const_cast<SigningConfig *>(config), text);
}

// The TrueType route: libharu draws the text and the font objects are taken
// over from its document. False (with a debug line) selects Helvetica.
bool try_truetype(const AppearanceRequest &request, const std::string &text, int next, TrueTypeText &truetype) {
    if (!is_utf8(text)) {
        debug(request.config, "The signature text is not UTF-8; it is drawn with Helvetica.");
        return false;
    }
    const std::string font = truetype_font_path(*request.config);
    if (font.empty()) return false;
    std::string document;
    if (!truetype_document(request.config, text, font.c_str(), request.page_width, request.page_height, request.h,
                           document))
        return false;
    if (!take_truetype_text(document, next, truetype)) {
        debug(request.config, "libharu error: the document has no usable page content and font objects.");
        return false;
    }
    return true;
}

QPDFObjectHandle content_resources(const Appearance &appearance, int image) {
    QPDFObjectHandle procset = QPDFObjectHandle::newArray();
    procset.appendItem(name("/PDF"));
    procset.appendItem(name("/Text"));
    if (image != 0) procset.appendItem(name("/ImageC"));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/ProcSet", procset);
    resources.replaceKey("/Font", refers(appearance.font_name.c_str(), appearance.font));
    if (image != 0) resources.replaceKey("/XObject", refers("/Im0", image));
    return resources;
}

}  // namespace

std::string appearance_text(const AppearanceRequest &request) {
    const SigningConfig &config = *request.config;
    std::string date;
    if (uses_custom_date(config.sigtext)) {
        const char *format = config.sigdateformat[0] ? config.sigdateformat : "%c";
        if (!custom_date(request.signing_time, format, kTextField - 1, date)) date.clear();
    } else {
        date = display_date(request.moddate);
    }
    return fill_signature_template(config.sigtext, request.name, request.reason, request.location, date);
}

bool build_appearance(const AppearanceRequest &request, int &next, Appearance &appearance) {
    const SignatureImageData *image = request.image;
    if (image && !usable_image(*image)) return false;
    const std::string text = appearance_text(request);

    TrueTypeText truetype;
    if (needs_truetype(text) && try_truetype(request, text, next, truetype)) {
        appearance.objects = std::move(truetype.objects);
        next += static_cast<int>(appearance.objects.size());
        appearance.font = truetype.font;
        appearance.font_name = "/F1";
    } else {
        appearance.font = next++;
        appearance.font_name = "/Helv";
        appearance.objects.push_back(helvetica(appearance.font));
    }
    const int w = request.w, h = request.h;
    const std::string content = content_stream(text, image != nullptr, w, h, image ? image->width : 0,
                                               image ? image->height : 0, truetype.content);

    int picture = 0;
    if (image) {
        int mask = 0;
        if (image->alpha) {
            mask = next++;
            appearance.objects.push_back(image_object(mask, *image, "/DeviceGray", image->alpha, 1, 0));
        }
        picture = next++;
        appearance.objects.push_back(image_object(picture, *image, "/DeviceRGB", image->rgb, 3, mask));
    }
    const int blank = next++;
    appearance.objects.push_back(new_stream(blank, form(box(0, 0, 100, 100)), deflate_bytes(kBlankLayer)));

    const int layer = next++;
    QPDFObjectHandle layer_form = form(box(1, 1, w - 1, h - 1));
    layer_form.replaceKey("/Resources", content_resources(appearance, picture));
    appearance.objects.push_back(new_stream(layer, layer_form, deflate_bytes(content)));

    const int frame = next++;
    QPDFObjectHandle layers = QPDFObjectHandle::newDictionary();
    layers.replaceKey("/n0", forward_reference(blank));
    layers.replaceKey("/n2", forward_reference(layer));
    QPDFObjectHandle frame_form = form(box(0, 0, w, h));
    QPDFObjectHandle frame_resources = QPDFObjectHandle::newDictionary();
    frame_resources.replaceKey("/XObject", layers);
    frame_form.replaceKey("/Resources", frame_resources);
    appearance.objects.push_back(new_stream(frame, frame_form, deflate_bytes(kFrameContent)));

    appearance.form = next++;
    QPDFObjectHandle outer = form(box(0, 0, w, h));
    QPDFObjectHandle outer_resources = QPDFObjectHandle::newDictionary();
    outer_resources.replaceKey("/XObject", refers("/FRM", frame));
    outer.replaceKey("/Resources", outer_resources);
    NewObject outer_object = new_stream(appearance.form, outer, deflate_bytes(kOuterContent));
    outer_object.crlf = true;
    appearance.objects.push_back(std::move(outer_object));
    return true;
}

}  // namespace qs
