// Copying libharu's page content and composite font into the update. Stream
// data is copied as stored (still compressed, so each /Filter stays true) with
// a direct /Length; references between the six objects become forward
// references to their new numbers.
#include "pdf/truetype_objects.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <quillseal/appearance.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "pdf/qpdf_api.h"

namespace {

bool is_indirect_stream(QPDFObjectHandle h) { return h.isIndirect() && h.isStream(); }
bool is_indirect_dictionary(QPDFObjectHandle h) { return h.isIndirect() && h.isDictionary(); }

// True when a direct value holds a reference to another object.
bool refers_elsewhere(QPDFObjectHandle value) {
    if (value.isIndirect()) return true;
    if (value.isArray()) {
        for (int i = 0; i < value.getArrayNItems(); ++i)
            if (refers_elsewhere(value.getArrayItem(i))) return true;
    }
    if (value.isDictionary()) {
        for (const auto &entry : value.getDictAsMap())
            if (refers_elsewhere(entry.second)) return true;
    }
    return false;
}

bool dictionary_refers_elsewhere(QPDFObjectHandle dictionary) {
    for (const auto &entry : dictionary.getDictAsMap())
        if (refers_elsewhere(entry.second)) return true;
    return false;
}

std::string buffer_text(const std::shared_ptr<Buffer> &buffer) {
    return std::string(reinterpret_cast<const char *>(buffer->getBuffer()), buffer->getSize());
}

// The stream's data as stored, its /Length made direct to match.
qs::NewObject stream_object(int number, QPDFObjectHandle stream) {
    qs::NewObject object;
    object.number = number;
    object.stream = true;
    object.data = buffer_text(stream.getRawStreamData());
    QPDFObjectHandle dictionary = stream.getDict();
    dictionary.replaceKey("/Length", QPDFObjectHandle::newInteger(static_cast<long long>(object.data.size())));
    return object;
}

qs::NewObject dictionary_object(int number) {
    qs::NewObject object;
    object.number = number;
    return object;
}

// The parts of libharu's page that the appearance needs.
struct Parts {
    QPDFObjectHandle contents, type0, cid_font, descriptor, font_file, cid_map, to_unicode;
};

bool find_parts(QPDF &pdf, Parts &p) {
    const std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
    if (pages.empty()) return false;
    QPDFObjectHandle page = pages.front();
    p.contents = page.getKey("/Contents");
    QPDFObjectHandle resources = page.getKey("/Resources");
    QPDFObjectHandle fonts = resources.isDictionary() ? resources.getKey("/Font") : QPDFObjectHandle::newNull();
    p.type0 = fonts.isDictionary() ? fonts.getKey("/F1") : QPDFObjectHandle::newNull();
    if (!is_indirect_stream(p.contents) || !is_indirect_dictionary(p.type0)) return false;
    p.to_unicode = p.type0.getKey("/ToUnicode");
    QPDFObjectHandle descendants = p.type0.getKey("/DescendantFonts");
    if (!descendants.isArray() || descendants.getArrayNItems() != 1) return false;
    p.cid_font = descendants.getArrayItem(0);
    if (!is_indirect_dictionary(p.cid_font) || !is_indirect_stream(p.to_unicode)) return false;
    p.cid_map = p.cid_font.getKey("/CIDToGIDMap");
    p.descriptor = p.cid_font.getKey("/FontDescriptor");
    if (!is_indirect_stream(p.cid_map) || !is_indirect_dictionary(p.descriptor)) return false;
    p.font_file = p.descriptor.getKey("/FontFile2");
    return is_indirect_stream(p.font_file);
}

}  // namespace

namespace qs {

bool take_truetype_text(std::string_view pdf, int first, TrueTypeText &out) {
    try {
        QPDF doc;
        doc.setSuppressWarnings(true);
        doc.processMemoryFile("libaru_doc", pdf.data(), pdf.size(), "");
        Parts p;
        if (!find_parts(doc, p)) return false;

        p.descriptor.replaceKey("/FontFile2", forward_reference(first));
        p.cid_font.replaceKey("/FontDescriptor", forward_reference(first + 1));
        p.cid_font.replaceKey("/CIDToGIDMap", forward_reference(first + 2));
        QPDFObjectHandle descendants = QPDFObjectHandle::newArray();
        descendants.appendItem(forward_reference(first + 3));
        p.type0.replaceKey("/DescendantFonts", descendants);
        p.type0.replaceKey("/ToUnicode", forward_reference(first + 4));
        std::vector<qs::NewObject> objects = {stream_object(first, p.font_file),
                                              dictionary_object(first + 1),
                                              stream_object(first + 2, p.cid_map),
                                              dictionary_object(first + 3),
                                              stream_object(first + 4, p.to_unicode),
                                              dictionary_object(first + 5)};
        QPDFObjectHandle dictionaries[] = {p.font_file.getDict(), p.descriptor, p.cid_map.getDict(),
                                                 p.cid_font, p.to_unicode.getDict(), p.type0};
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (dictionary_refers_elsewhere(dictionaries[i])) return false;
            objects[i].dictionary = dictionaries[i].unparseResolved();
        }
        std::string content = buffer_text(p.contents.getStreamData(qpdf_dl_generalized));
        if (doc.anyWarnings()) return false;
        out.objects = std::move(objects);
        out.font = first + 5;
        out.content = std::move(content);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

}  // namespace qs

extern "C" {

QS_API int qpdf_libharu_copy_contents_and_font_subset_objects(const unsigned char *pdf, int length, long *offset,
                                                              int *next, int *count, unsigned char **objects,
                                                              int *objects_length, int *numbers, long *offsets,
                                                              unsigned char **content, int *content_length) {
    return qs::guarded([&]() -> int {
        if (!pdf || length <= 0 || !offset || !next || !count || !objects || !objects_length || !numbers ||
            !offsets || !content || !content_length) {
            qs::report("Missing document or result places for the TrueType font objects.");
            return -1;
        }
        qs::TrueTypeText text;
        const std::string_view bytes(reinterpret_cast<const char *>(pdf), static_cast<std::size_t>(length));
        if (*next < 1 || *next > INT_MAX - 6 || !qs::take_truetype_text(bytes, *next, text)) {
            qs::report("The libharu document does not have the expected page content and font objects.");
            return -1;
        }
        std::string framed;
        long at = *offset;
        for (std::size_t i = 0; i < text.objects.size(); ++i) {
            const std::string object = qs::frame_new_object(text.objects[i]);
            numbers[i] = text.objects[i].number;
            offsets[i] = at;
            at += static_cast<long>(object.size());
            framed += object;
        }
        if (framed.size() > static_cast<std::size_t>(INT_MAX) || text.content.size() > static_cast<std::size_t>(INT_MAX))
            throw std::length_error("The TrueType font objects are too large.");
        qs::MallocPtr<unsigned char> framed_out(static_cast<unsigned char *>(std::malloc(framed.size() + 1)));
        qs::MallocPtr<unsigned char> content_out(static_cast<unsigned char *>(std::malloc(text.content.size() + 1)));
        if (!framed_out || !content_out) {
            qs::report("Out of memory while copying the TrueType font objects.");
            return -1;
        }
        std::memcpy(framed_out.get(), framed.data(), framed.size());
        std::memcpy(content_out.get(), text.content.data(), text.content.size());
        *objects = framed_out.release();
        *objects_length = static_cast<int>(framed.size());
        *content = content_out.release();
        *content_length = static_cast<int>(text.content.size());
        *offset = at;
        *next += 6;
        *count += 6;
        return 0;
    });
}

}  // extern "C"
