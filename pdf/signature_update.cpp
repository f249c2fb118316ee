// One signature field appended as one incremental update: information
// dictionary, signature dictionary, widget, catalog and page, then the
// cross-reference section. Every byte is written here; the input is only read.
#include "pdf/signature_update.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <stdexcept>
#include <vector>

#include <quillseal/appearance.h>
#include <quillseal/pdf.h>

#include "appearance/dates.h"
#include "appearance/page_placement.h"
#include "appearance/rectangle.h"
#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "core/base/version.h"
#include "pdf/appearance_objects.h"
#include "pdf/field_lock.h"
#include "pdf/field_placement.h"
#include "pdf/file_tail.h"
#include "pdf/form_fields.h"
#include "pdf/info_dictionary.h"
#include "pdf/input_warnings.h"
#include "pdf/qpdf_api.h"
#include "pdf/signature_dictionary.h"
#include "pdf/xref_writer.h"

namespace qs {

namespace {

constexpr int kRangeWidth = 5;  // "_XXX_"
constexpr int kMaxDigits = 1 << 28;  // hexadecimal digits reserved for one signature, at most
constexpr const char *kDefaultSubfilter = "/adbe.pkcs7.detached";
constexpr const char *kCertified =
    "The input PDF is already (signed and) certified and cannot be signed again without "
    "invalidating the certified signature!";

// An object of the update after the signature and the widget, written under its own number.
struct Rewritten {
    int number = 0;
    int generation = 0;
    std::string body;
};

// Everything the update writes, prepared once; only the placement of the
// signature dictionary depends on the width reserved for c.
struct Prepared {
    long size = 0;
    long prev = 0;
    XrefForm form = XrefForm::Table;
    int next = 0;  // the first number left for the writer (the cross-reference stream)
    DocumentInfo info;
    std::string info_body;
    bool info_kept = false;  // a document timestamp leaves the information dictionary alone
    QPDFObjectHandle id, root, signature;
    int signature_number = 0, widget_number = 0, digits = 0;
    std::string widget_body;            // empty when the signature goes into a field the form has
    std::vector<NewObject> parents;     // parent fields made for the new field's name
    Appearance appearance;        // no objects for an invisible signature
    std::vector<Rewritten> rest;  // catalog, rewritten form objects, page(s)
    std::vector<QPDFObjGen> relied_on;  // input objects copied into the update or deciding it
    bool new_field = false;             // the field the configuration names was made
};

std::string text_or_empty(const char *s) { return s ? s : ""; }

void open_input(QPDF &pdf, std::FILE *input, const SignatureRequest &request) {
    read_input_strictly(pdf, input, request.password);
    if (pdf.isEncrypted())
        throw std::runtime_error(request.document_timestamp
                                     ? "Encrypted input PDFs cannot be timestamped: decrypt the document first."
                                     : "Encrypted input PDFs cannot be signed: decrypt the document first.");
}

// The signature rectangle of the chosen page: page box text, then the rules of sigrect.
bool signature_rect(QPDFObjectHandle page, const SigningConfig &config, int corners[4], PageSize &size) {
    std::string box;
    if (!page_box_text(page, box)) return false;
    read_page_box(box, size);
    MallocPtr<int> rect(validate_sig_rect(config.sigrect, box.c_str()));
    if (!rect) return false;
    std::copy(rect.get(), rect.get() + 4, corners);
    return true;
}

Rewritten rewritten(QPDFObjectHandle object) {
    return Rewritten{object.getObjectID(), object.getGeneration(), serialize(object)};
}

// The pages that carry the widget: the chosen page first and, for a visible
// signature on every page, the other pages in page order. Also the widget's
// rectangle on the chosen page (all zero for an invisible signature) and that
// page's size.
bool choose_signature_pages(QPDF &pdf, const SignatureRequest &request, InputWarnings &warnings,
                            std::vector<QPDFObjectHandle> &carrying, int corners[4], PageSize &size) {
    const std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
    warnings.collect(pdf);
    if (pages.empty()) {
        report("The input PDF has no pages.");
        return false;
    }
    const PageChoice choice = choose_page(request.page, static_cast<int>(pages.size()));
    const std::size_t chosen = static_cast<std::size_t>(choice.page - 1);
    carrying.push_back(pages[chosen]);
    if (!signature_rect(pages[chosen], *request.config, corners, size)) return false;
    if (!request.visible) std::fill(corners, corners + 4, 0);
    if (request.visible && choice.all_pages)
        for (std::size_t i = 0; i < pages.size(); ++i)
            if (i != chosen) carrying.push_back(pages[i]);
    return true;
}

// The rectangle and page of the widget of a field the form has, for an
// appearance drawn into it.
bool widget_placement(QPDF &pdf, SigningTarget target, int corners[4], PageSize &size) {
    double rect[4];
    const int page = widget_page(pdf, target.widget);
    if (!read_rectangle(target.widget.getKey("/Rect"), rect) || page == 0) {
        report("The signature field \"" + target.name + "\" has no rectangle on a page of the document.");
        return false;
    }
    for (int i = 0; i < 4; ++i) corners[i] = static_cast<int>(std::lround(rect[i]));
    std::string box;
    if (!page_box_text(pdf.getAllPages()[static_cast<std::size_t>(page - 1)], box)) return false;
    read_page_box(box, size);
    return true;
}

// The locks the signature carries: the field's own /Lock and that of siglock.
bool signing_locks(const SigningConfig &config, SigningTarget target, std::vector<FieldLock> &locks) {
    FieldLock lock;
    if (target.existing && read_field_lock(target.field.getKey("/Lock"), lock)) locks.push_back(lock);
    if (config.siglock[0] == '\0') return true;
    if (!parse_siglock(config.siglock, lock)) return false;
    locks.push_back(lock);
    return true;
}

// A field the form has receives the signature as its value and, when it is
// drawn, the appearance; its widget keeps its place, rectangle and flags. A
// widget of its own gets the value too: some readers look for a signature
// only in the widget.
void fill_existing_field(SigningTarget target, int signature, const Appearance &appearance) {
    target.field.replaceKey("/V", forward_reference(signature));
    target.widget.replaceKey("/V", forward_reference(signature));
    if (appearance.form == 0) return;
    QPDFObjectHandle ap = QPDFObjectHandle::newDictionary();
    ap.replaceKey("/N", forward_reference(appearance.form));
    target.widget.replaceKey("/AP", ap);
}

void prepare_info(QPDFObjectHandle trailer, const SignatureRequest &request, const std::string &appname,
                  const std::string &moddate, int &next, Prepared &p) {
    InfoTexts texts;
    texts.appname = appname;
    texts.moddate = moddate;
    texts.title = request.title;
    texts.author = request.author;
    texts.subject = request.subject;
    texts.keywords = request.keywords;
    p.info = update_document_info(trailer, texts, next);
    if (p.info.is_new) ++next;
    p.info_body = serialize(p.info.dictionary);
    p.id = document_id(trailer, p.info_body);
}

// The information dictionary as the input has it, unchanged.
void keep_info(QPDFObjectHandle trailer, Prepared &p) {
    p.info_kept = true;
    p.info.dictionary = trailer.getKey("/Info");
    p.id = document_id(trailer, serialize(p.info.dictionary));
}

QPDFObjectHandle prepare_signature(const SignatureRequest &request, const std::string &appname,
                                   const std::string &subfilter, const std::string &moddate,
                                   QPDFObjectHandle catalog, const std::vector<FieldLock> &locks) {
    SignatureFields fields;
    fields.document_timestamp = request.document_timestamp;
    fields.subfilter = subfilter;
    fields.appname = appname;
    fields.reason = text_or_empty(request.reason);
    fields.location = text_or_empty(request.location);
    fields.contact = request.config->sigcontact;
    fields.moddate = moddate;
    fields.certify = request.certify;
    fields.catalog = catalog;
    fields.locks = locks;
    fields.digits = request.digits;
    return signature_dictionary(fields);
}

bool prepare_appearance(const SignatureRequest &request, std::time_t now, const std::string &moddate,
                        const int corners[4], PageSize page, int &next, Appearance &appearance) {
    AppearanceRequest visible;
    visible.config = request.config;
    visible.signing_time = now;
    visible.moddate = moddate;
    visible.name = text_or_empty(request.signer_name);
    visible.reason = text_or_empty(request.reason);
    visible.location = text_or_empty(request.location);
    visible.w = corners[2] - corners[0];
    visible.h = corners[3] - corners[1];
    visible.page_width = page.width;
    visible.page_height = page.height;
    visible.image = request.image;
    return build_appearance(visible, next, appearance);
}

std::string prepare_widget(const SignatureRequest &request, int signature, QPDFObjectHandle page,
                           const int corners[4], const Appearance &appearance, const HungField &hung,
                           const std::vector<FieldLock> &locks) {
    WidgetFields widget;
    widget.signature = signature;
    widget.page = page;
    widget.llx = corners[0];
    widget.lly = corners[1];
    widget.urx = corners[2];
    widget.ury = corners[3];
    widget.serial = text_or_empty(request.serial);
    if (request.document_timestamp) widget.title = "Document timestamp " + decimal(signature);
    if (!hung.own_name.empty()) widget.title = hung.own_name;
    widget.parent = hung.parent;
    // A new field documents the lock its signature carries.
    if (!locks.empty()) widget.lock = lock_dictionary(locks.back());
    widget.appearance = appearance.form;
    widget.font = appearance.font;
    widget.font_name = appearance.font_name;
    return serialize(widget_annotation(widget));
}

// Indirect parts of the input whose contents the update copies into the
// catalog or the pages it writes.
void add_copied_objects(QPDFObjectHandle catalog, const std::vector<QPDFObjectHandle> &pages,
                        std::vector<QPDFObjGen> &objects) {
    std::vector<QPDFObjectHandle> parts = {catalog.getKey("/AcroForm")};
    for (QPDFObjectHandle page : pages) parts.push_back(page.getKey("/Annots"));
    for (QPDFObjectHandle part : parts)
        if (part.isIndirect()) objects.push_back(part.getObjGen());
}

// The input's objects that the update writes again (under their own number or
// copied into another object) or that decide whether it may sign at all.
std::set<QPDFObjGen> rewritten_or_relied_on(const Prepared &p) {
    std::set<QPDFObjGen> objects(p.relied_on.begin(), p.relied_on.end());
    for (const Rewritten &object : p.rest) objects.insert(QPDFObjGen(object.number, object.generation));
    if (!p.info.is_new && !p.info_kept) objects.insert(QPDFObjGen(p.info.number, p.info.generation));
    return objects;
}

// The catalog, the form objects it only refers to and the pages that carry
// the widget, each written once.
void prepare_rewrites(QPDFObjectHandle catalog, const std::vector<QPDFObjectHandle> &form_objects,
                      const std::vector<QPDFObjectHandle> &pages, Prepared &p) {
    std::set<QPDFObjGen> written;
    const auto add = [&](QPDFObjectHandle object) {
        if (written.insert(object.getObjGen()).second) p.rest.push_back(rewritten(object));
    };
    add(catalog);
    for (QPDFObjectHandle object : form_objects) add(object);
    for (QPDFObjectHandle page : pages) add(page);
}

bool prepare(QPDF &pdf, const SignatureRequest &request, const FileTail &tail, InputWarnings &warnings,
             Prepared &p) {
    const SigningConfig &config = *request.config;
    const std::string appname = config.appname[0] ? config.appname : qs::kProductVersion;
    const std::string subfilter = config.subfilter[0] ? config.subfilter : kDefaultSubfilter;
    std::string moddate;
    const std::time_t now = std::time(nullptr);
    if (!pdf_date(now, moddate)) {
        report("The signing time cannot be written as a PDF date.");
        return false;
    }
    QPDFObjectHandle root = pdf.getRoot();
    // Validation data and document timestamps are welcome after any certification.
    if (!request.document_timestamp && is_certified(root, &p.relied_on)) {
        report(kCertified);
        return false;
    }
    QPDFObjectHandle trailer = pdf.getTrailer();
    p.size = tail.size;
    p.prev = tail.prev;
    p.form = xref_form(trailer);
    p.root = root;
    p.digits = request.digits;
    int next = first_new_object_number(pdf, trailer);

    SigningTarget target;
    std::vector<FieldLock> locks;
    if (!request.document_timestamp &&
        (!choose_signing_target(root, config.sigfield, target) || !signing_locks(config, target, locks)))
        return false;

    std::vector<QPDFObjectHandle> pages;
    int corners[4] = {0, 0, 0, 0};
    PageSize page_size;
    if (target.existing ? !widget_placement(pdf, target, corners, page_size)
                        : !choose_signature_pages(pdf, request, warnings, pages, corners, page_size))
        return false;
    // A field the form has is drawn into only when its widget has room for it.
    const bool visible = request.visible && (!target.existing || (corners[2] > corners[0] && corners[3] > corners[1]));

    if (request.document_timestamp)
        keep_info(trailer, p);
    else
        prepare_info(trailer, request, appname, moddate, next, p);
    if (visible && !prepare_appearance(request, now, moddate, corners, page_size, next, p.appearance))
        return false;
    p.signature_number = next++;
    p.widget_number = target.existing ? target.widget.getObjectID() : next++;
    HungField hung;
    hung.top = p.widget_number;
    if (!target.existing && !target.name.empty() && !hang_new_field(root, target.name, p.widget_number, next, hung))
        return false;
    p.parents = hung.new_parents;
    p.next = next;
    p.signature = prepare_signature(request, appname, subfilter, moddate, root, locks);
    if (!target.existing)
        p.widget_body = prepare_widget(request, p.signature_number, pages.front(), corners, p.appearance, hung, locks);
    add_copied_objects(root, pages, p.relied_on);
    // A document signed before keeps its catalog as its signatures need it:
    // only what the new field needs changes there.
    const bool first_signature = !carries_signature(root);

    std::vector<QPDFObjectHandle> form_objects =
        add_field_to_catalog(root, target.existing ? 0 : hung.top, request.certify, p.signature_number);
    form_objects.insert(form_objects.end(), hung.rewritten.begin(), hung.rewritten.end());
    if (target.existing) {
        fill_existing_field(target, p.signature_number, p.appearance);
        form_objects.push_back(target.field);
        form_objects.push_back(target.widget);
    }
    if (visible)
        for (QPDFObjectHandle object : add_font_to_form(root, p.appearance.font_name, p.appearance.font))
            form_objects.push_back(object);
    if (first_signature && !request.document_timestamp && subfilter == "/ETSI.CAdES.detached")
        set_adbe_extension(root, 8);
    for (QPDFObjectHandle each : pages) add_widget_to_page(each, p.widget_number);
    prepare_rewrites(root, form_objects, pages, p);
    p.new_field = !target.existing && !target.name.empty();
    return true;
}

QPDFObjectHandle update_trailer(const Prepared &p) {
    QPDFObjectHandle trailer = QPDFObjectHandle::newDictionary();
    trailer.replaceKey("/Prev", QPDFObjectHandle::newInteger(p.prev));
    if (p.info_kept) {
        QPDFObjectHandle info = p.info.dictionary;
        if (!info.isNull()) trailer.replaceKey("/Info", info);
    } else {
        trailer.replaceKey("/Info", p.info.is_new ? forward_reference(p.info.number) : p.info.dictionary);
    }
    trailer.replaceKey("/Root", p.root);
    trailer.replaceKey("/ID", p.id);
    return trailer;
}

// Lays the update out with width characters reserved for c. False when c
// needs more characters (width then holds the count it needs).
bool lay_out(const Prepared &p, int &width, SignatureUpdate &update) {
    UpdateWriter writer(p.size, p.next, p.form);
    writer.append("\r\n");
    if (!p.info_kept) writer.add_object(p.info.number, p.info_body, p.info.generation);
    for (const NewObject &object : p.appearance.objects) writer.add(object);
    const SettledSignature settled =
        settle_signature(p.signature, p.signature_number, writer.offset(), p.digits, width);
    const std::size_t signature_at = writer.add_object(p.signature_number, settled.body);
    if (!p.widget_body.empty()) writer.add_object(p.widget_number, p.widget_body);
    for (const NewObject &object : p.parents) writer.add(object);
    for (const Rewritten &object : p.rest) writer.add_object(object.number, object.body, object.generation);
    writer.finish(update_trailer(p));

    std::string &text = writer.text();
    const std::size_t contents = signature_at + settled.contents;
    const long c = static_cast<long>(text.size() - (contents + static_cast<std::size_t>(p.digits) + 2));
    const int needed = static_cast<int>(decimal(c).size());
    if (needed > width) {
        width = needed;
        return false;
    }
    if (settled.a != p.size + static_cast<long>(contents))
        throw std::logic_error("The signature placeholder offset is inconsistent.");
    fill_signature_placeholders(text, signature_at, contents, p.digits, c, width);
    update.text = std::move(text);
    update.a = settled.a;
    update.c = c;
    update.new_field = p.new_field;
    return true;
}

}  // namespace

bool build_signature_update(std::FILE *input, const SignatureRequest &request, SignatureUpdate &update) {
    if (!input || !request.config) {
        report("Missing input file or configuration for the signature update.");
        return false;
    }
    if (request.digits <= 0 || request.digits > kMaxDigits) {
        report("The signature placeholder size is out of range.");
        return false;
    }
    FileTail tail;
    if (!read_file_tail(input, tail)) return false;

    QPDF pdf;
    open_input(pdf, input, request);
    // Harmless blemishes are signed over; damage, or a blemish in an object the
    // update writes again or relies on, refuses the document.
    InputWarnings warnings;
    warnings.collect(pdf);
    Prepared prepared;
    SignatureRequest even = request;
    even.digits += even.digits % 2;  // N/2 placeholder bytes must give exactly N digits
    try {
        if (!prepare(pdf, even, tail, warnings, prepared)) return false;
    } catch (const QPDFExc &e) {
        throw std::runtime_error(std::string("The input PDF cannot be read: ") + e.getMessageDetail());
    }
    warnings.collect(pdf);
    warnings.refuse_about(rewritten_or_relied_on(prepared));
    // A c of more than five digits widens its placeholder; the layout is then settled again.
    for (int width = kRangeWidth;;)
        if (lay_out(prepared, width, update)) return true;
}

}  // namespace qs

extern "C" {

QS_API char *qpdf_incremental_update(SigningConfig *config, FILE *input, const char *password,
                                     long *length, const char *title, const char *author,
                                     const char *subject, const char *keywords, long *a,
                                     long *c, int N, int visible, int certify,
                                     const char *reason, const char *location,
                                     const char *signerName, int page, const char *serial,
                                     int image, int imageWidth, int imageHeight,
                                     unsigned char *rgb, unsigned char *alpha,
                                     int bitsPerComponent) {
    return qs::guarded_ptr([&]() -> char * {
        qs::SignatureRequest request;
        request.config = config;
        request.password = password;
        request.title = title;
        request.author = author;
        request.subject = subject;
        request.keywords = keywords;
        request.digits = N;
        request.visible = visible != 0;
        request.certify = certify != 0;
        request.reason = reason;
        request.location = location;
        request.signer_name = signerName;
        request.page = page;
        request.serial = serial;
        qs::SignatureImageData picture;
        picture.width = imageWidth;
        picture.height = imageHeight;
        picture.bits = bitsPerComponent;
        picture.rgb = rgb;
        picture.alpha = alpha;
        if (visible && image) request.image = &picture;
        qs::SignatureUpdate update;
        if (!qs::build_signature_update(input, request, update)) return nullptr;
        char *buffer = static_cast<char *>(std::malloc(update.text.size() + 1));
        if (!buffer) {
            qs::report("Out of memory while building the signature update.");
            return nullptr;
        }
        std::memcpy(buffer, update.text.data(), update.text.size());
        buffer[update.text.size()] = '\0';
        if (length) *length = static_cast<long>(update.text.size());
        if (a) *a = update.a;
        if (c) *c = update.c;
        return buffer;
    });
}

}  // extern "C"
