// Walks what a viewer shows and what the signatures keep: the catalog and
// its entries, the form, the security store and every page with its content,
// resources and annotations, a few levels deep, and notes the uses of the
// objects asked for.
#include "crypto/object_uses.h"

#include <utility>

namespace qs {
namespace {

// Levels below a catalog entry whose references are noted.
constexpr int kCatalogDepth = 2;
// Page trees deeper than this are not walked further up.
constexpr int kMaxTreeDepth = 64;

class UseWalker {
public:
    UseWalker(const std::set<QPDFObjGen> &wanted, std::map<QPDFObjGen, ObjectUse> &out)
        : wanted_(wanted), out_(out) {}

    void walk(QPDF &pdf) {
        QPDFObjectHandle root = pdf.getRoot();
        note(root, kUseCatalog);
        note(pdf.getTrailer().getKey("/Info"), kUseInfo);
        for (auto &[key, value] : root.ditems()) {
            if (key == "/Type" || key == "/Pages" || key == "/AcroForm" || key == "/DSS") continue;
            walk_catalog_entry(value, key, 0);
        }
        walk_form(root.getKey("/AcroForm"));
        walk_security_store(root.getKey("/DSS"));
        note(root.getKey("/Pages"), kUsePageTree, 1);
        walk_pages(pdf);
    }

private:
    void note(QPDFObjectHandle object, unsigned flag, int page = 0, const std::string &key = std::string()) {
        if (!object.isIndirect()) return;
        const QPDFObjGen id = object.getObjGen();
        if (wanted_.count(id) == 0) return;
        ObjectUse &use = out_[id];
        use.flags |= flag;
        if (page > 0 && use.page == 0) use.page = page;
        if (!key.empty() && use.catalog_key.empty()) use.catalog_key = key;
    }

    // False when this indirect container was already walked for this use.
    bool first_visit(unsigned flag, QPDFObjectHandle object) {
        return !object.isIndirect() || visited_.insert({flag, object.getObjGen()}).second;
    }

    void walk_catalog_entry(QPDFObjectHandle value, const std::string &key, int depth) {
        note(value, kUseCatalogEntry, 0, key);
        if (depth >= kCatalogDepth || !first_visit(kUseCatalogEntry, value)) return;
        if (value.isDictionary())
            for (auto &[name, item] : value.ditems()) walk_catalog_entry(item, key, depth + 1);
        else if (value.isArray())
            for (QPDFObjectHandle item : value.aitems()) walk_catalog_entry(item, key, depth + 1);
    }

    void walk_form(QPDFObjectHandle form) {
        note(form, kUseForm);
        if (!form.isDictionary()) return;
        QPDFObjectHandle fields = form.getKey("/Fields");
        note(fields, kUseFormFields);
        if (fields.isArray())
            for (QPDFObjectHandle field : fields.aitems()) note(field, kUseFormField);
        QPDFObjectHandle resources = form.getKey("/DR");
        note(resources, kUseFormResources);
        if (!resources.isDictionary()) return;
        for (auto &[kind, group] : resources.ditems()) {
            note(group, kind == "/Font" ? kUseFormFonts : kUseFormResourceItem);
            if (group.isDictionary())
                for (auto &[name, item] : group.ditems()) note(item, kUseFormResourceItem);
        }
    }

    void walk_security_store(QPDFObjectHandle store) {
        note(store, kUseSecurityStore);
        if (store.isDictionary()) note(store.getKey("/VRI"), kUseValidationInfo);
    }

    void walk_pages(QPDF &pdf) {
        int number = 0;
        for (QPDFObjectHandle page : pdf.getAllPages()) {
            ++number;
            note(page, kUsePage, number);
            walk_tree_above(page, number);
            walk_contents(page.getKey("/Contents"), number);
            walk_resources(page.getKey("/Resources"), number);
            walk_annotations(page.getKey("/Annots"), number);
        }
    }

    // The nodes above a page, with the resources they hand down to it.
    void walk_tree_above(QPDFObjectHandle page, int number) {
        QPDFObjectHandle node = page.getKey("/Parent");
        for (int depth = 0; depth < kMaxTreeDepth && node.isDictionary(); ++depth) {
            if (!first_visit(kUsePageTree, node)) return;
            note(node, kUsePageTree, number);
            walk_resources(node.getKey("/Resources"), number);
            node = node.getKey("/Parent");
        }
    }

    void walk_contents(QPDFObjectHandle contents, int number) {
        note(contents, kUsePageContent, number);
        if (contents.isArray() && first_visit(kUsePageContent, contents))
            for (QPDFObjectHandle stream : contents.aitems()) note(stream, kUsePageContent, number);
    }

    // The resources dictionary, each kind of resource and each resource.
    void walk_resources(QPDFObjectHandle resources, int number) {
        note(resources, kUsePageResources, number);
        if (!resources.isDictionary() || !first_visit(kUsePageResources, resources)) return;
        for (auto &[kind, group] : resources.ditems()) {
            note(group, kUsePageResources, number);
            if (group.isDictionary() && first_visit(kUsePageResources, group))
                for (auto &[name, item] : group.ditems()) note(item, kUsePageResources, number);
        }
    }

    // The annotations, their pop-ups and appearance streams.
    void walk_annotations(QPDFObjectHandle annots, int number) {
        note(annots, kUsePageAnnots, number);
        if (!annots.isArray() || !first_visit(kUsePageAnnots, annots)) return;
        for (QPDFObjectHandle annot : annots.aitems()) {
            note(annot, kUseAnnotation, number);
            if (!annot.isDictionary() || !first_visit(kUseAnnotation, annot)) continue;
            note(annot.getKey("/Popup"), kUseAnnotation, number);
            QPDFObjectHandle appearances = annot.getKey("/AP");
            note(appearances, kUseAnnotation, number);
            if (!appearances.isDictionary()) continue;
            for (auto &[kind, appearance] : appearances.ditems()) {
                note(appearance, kUseAnnotation, number);
                if (appearance.isDictionary())
                    for (auto &[state, stream] : appearance.ditems()) note(stream, kUseAnnotation, number);
            }
        }
    }

    const std::set<QPDFObjGen> &wanted_;
    std::map<QPDFObjGen, ObjectUse> &out_;
    std::set<std::pair<unsigned, QPDFObjGen>> visited_;
};

}  // namespace

std::map<QPDFObjGen, ObjectUse> object_uses(QPDF &pdf, const std::set<QPDFObjGen> &wanted) {
    std::map<QPDFObjGen, ObjectUse> uses;
    if (wanted.empty()) return uses;
    UseWalker(wanted, uses).walk(pdf);
    return uses;
}

}  // namespace qs
