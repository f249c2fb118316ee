// The update that adds an empty signature field: the widget (merged with its
// field), any parents its name needs, the catalog's form and the page's
// /Annots. The document information stays as it is.
#include "pdf/empty_field.h"

#include <stdexcept>
#include <vector>

#include "core/base/guard.h"
#include "core/base/text.h"
#include "pdf/field_placement.h"
#include "pdf/file_tail.h"
#include "pdf/form_fields.h"
#include "pdf/info_dictionary.h"
#include "pdf/input_warnings.h"
#include "pdf/xref_writer.h"

namespace qs {
namespace {

constexpr int kPrintFlag = 4;

bool refuse(const std::string &why) {
    report(why);
    return false;
}

bool check_request(QPDF &pdf, const EmptyFieldRequest &request, std::vector<QPDFObjectHandle> &pages) {
    if (pdf.isEncrypted()) return refuse("Encrypted input PDFs cannot take a new field: decrypt the document first.");
    if (carries_signature(pdf.getRoot()))
        return refuse("The document is signed already: a new field would be a change its signatures do not allow.");
    pages = pdf.getAllPages();
    if (request.page < 1 || request.page > static_cast<int>(pages.size()))
        return refuse("The document has no page " + decimal(request.page) + "; it has " + decimal(pages.size()) +
                      ".");
    const int *r = request.rect;
    if (r[2] <= r[0] || r[3] <= r[1])
        return refuse("The rectangle " + decimal(r[0]) + "," + decimal(r[1]) + "," + decimal(r[2]) + "," +
                      decimal(r[3]) + " is empty or inverted: give the lower-left corner, then the upper-right one.");
    return true;
}

bool write_update(QPDF &pdf, const EmptyFieldRequest &request, const FileTail &tail, InputWarnings &warnings,
                  std::string &update) {
    std::vector<QPDFObjectHandle> pages;
    if (!check_request(pdf, request, pages)) return false;
    QPDFObjectHandle trailer = pdf.getTrailer(), catalog = pdf.getRoot();
    QPDFObjectHandle page = pages[static_cast<std::size_t>(request.page - 1)];
    int next = first_new_object_number(pdf, trailer);
    const int widget = next++;
    HungField hung;
    if (!hang_new_field(catalog, request.name, widget, next, hung)) return false;

    WidgetFields fields;
    fields.page = page;
    fields.flags = kPrintFlag;
    fields.llx = request.rect[0];
    fields.lly = request.rect[1];
    fields.urx = request.rect[2];
    fields.ury = request.rect[3];
    fields.title = hung.own_name;
    fields.parent = hung.parent;
    if (request.lock) fields.lock = lock_dictionary(*request.lock);

    std::vector<QPDFObjectHandle> rewritten = add_field_to_catalog(catalog, hung.top, false, 0);
    rewritten.insert(rewritten.begin(), catalog);
    rewritten.insert(rewritten.end(), hung.rewritten.begin(), hung.rewritten.end());
    add_widget_to_page(page, widget);
    rewritten.push_back(page);
    std::set<QPDFObjGen> relied_on;
    for (QPDFObjectHandle object : rewritten) relied_on.insert(object.getObjGen());
    warnings.collect(pdf);
    warnings.refuse_about(relied_on);

    UpdateWriter writer(tail.size, next, xref_form(trailer));
    writer.append("\r\n");
    writer.add_object(widget, serialize(widget_annotation(fields)));
    for (const NewObject &parent : hung.new_parents) writer.add(parent);
    std::set<QPDFObjGen> written;
    for (QPDFObjectHandle object : rewritten)
        if (written.insert(object.getObjGen()).second)
            writer.add_object(object.getObjectID(), serialize(object), object.getGeneration());
    writer.finish(trailer_keeping_info(trailer, catalog, tail.prev));
    update = std::move(writer.text());
    return true;
}

}  // namespace

bool build_empty_field_update(std::FILE *input, const EmptyFieldRequest &request, std::string &update) {
    if (!input) {
        report("Missing input file for the new field.");
        return false;
    }
    FileTail tail;
    if (!read_file_tail(input, tail)) return false;
    QPDF pdf;
    read_input_strictly(pdf, input, "");
    InputWarnings warnings;
    warnings.collect(pdf);
    try {
        return write_update(pdf, request, tail, warnings, update);
    } catch (const QPDFExc &e) {
        throw std::runtime_error(std::string("The input PDF cannot be read: ") + e.getMessageDetail());
    }
}

}  // namespace qs
