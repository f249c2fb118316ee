// Walks everything a reader shows or acts on and what the signatures keep:
// the catalog and its entries, the information dictionary, the form, the
// security store and every page with its content, resources, annotations
// and other entries, each to any depth, and notes the uses of the objects
// asked for. The catalog, the page tree and the pages are judged by their own
// rules, so a walk below something else stops at them: a link's destination
// names a page without making the page part of the link. Entries are read
// with their null values, as a reference to an object the revision lacks is
// one.
#include "crypto/changes/object_uses.h"

#include <utility>
#include <vector>

namespace qs {
namespace {

// Page trees deeper than this are not walked further up.
constexpr int kMaxTreeDepth = 64;

struct Use {
    Use(unsigned flag_, int page_ = 0, std::string key_ = std::string())
        : flag(flag_), page(page_), key(std::move(key_)) {}
    unsigned flag;
    int page;
    std::string key;
};

class UseWalker {
public:
    UseWalker(const std::set<QPDFObjGen> &wanted, std::map<QPDFObjGen, ObjectUse> &out)
        : wanted_(wanted), out_(out) {}

    void walk(QPDF &pdf) {
        QPDFObjectHandle root = pdf.getRoot();
        const std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
        mark_structure(root, pages);
        note(root, {kUseCatalog});
        QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
        note(info, {kUseInfo});
        walk_below(info, {kUseInfo});
        for (auto &[key, value] : root.getDictAsMap()) {
            if (key == "/Type" || key == "/Pages" || key == "/AcroForm" || key == "/DSS") continue;
            walk_below(value, {kUseCatalogEntry, 0, key});
        }
        walk_form(root.getKey("/AcroForm"));
        walk_security_store(root.getKey("/DSS"));
        note(root.getKey("/Pages"), {kUsePageTree, 1});
        int number = 0;
        for (QPDFObjectHandle page : pages) walk_page(page, ++number);
    }

private:
    // The catalog, the nodes of the page tree and the pages.
    void mark_structure(QPDFObjectHandle root, const std::vector<QPDFObjectHandle> &pages) {
        stop(root);
        stop(root.getKey("/Pages"));
        for (QPDFObjectHandle page : pages) {
            stop(page);
            QPDFObjectHandle node = page.getKey("/Parent");
            for (int depth = 0; depth < kMaxTreeDepth && node.isDictionary(); ++depth) {
                if (!stop(node)) break;
                node = node.getKey("/Parent");
            }
        }
    }

    // False when the object was already marked.
    bool stop(QPDFObjectHandle object) {
        return object.isIndirect() && structure_.insert(object.getObjGen()).second;
    }

    void note(QPDFObjectHandle object, const Use &use) {
        if (!object.isIndirect()) return;
        const QPDFObjGen id = object.getObjGen();
        if (wanted_.count(id) == 0) return;
        ObjectUse &noted = out_[id];
        noted.flags |= use.flag;
        if (use.page > 0 && noted.page == 0) noted.page = use.page;
        if (!use.key.empty() && noted.key.empty()) noted.key = use.key;
    }

    // The value and everything it reaches, each object noted with the use once.
    void walk_below(QPDFObjectHandle value, const Use &use) {
        std::vector<QPDFObjectHandle> pending{value};
        while (!pending.empty()) {
            QPDFObjectHandle item = pending.back();
            pending.pop_back();
            if (item.isIndirect()) {
                const QPDFObjGen id = item.getObjGen();
                if (structure_.count(id)) continue;
                note(item, use);
                if (!visited_.insert({use.flag, id}).second) continue;
            }
            if (item.isStream()) item = item.getDict();
            if (item.isDictionary()) {
                // Back links lead to what is walked on its own: a field's or node's parent, an annotation's page.
                for (auto &[key, child] : item.getDictAsMap())
                    if (key != "/Parent" && key != "/P") pending.push_back(child);
            } else if (item.isArray()) {
                for (QPDFObjectHandle child : item.aitems()) pending.push_back(child);
            }
        }
    }

    void walk_form(QPDFObjectHandle form) {
        note(form, {kUseForm});
        if (!form.isDictionary()) return;
        for (auto &[key, value] : form.getDictAsMap()) {
            if (key == "/Fields") {
                note(value, {kUseFormFields});
                if (value.isArray())
                    for (QPDFObjectHandle field : value.aitems()) walk_below(field, {kUseFormField});
            } else if (key == "/DR") {
                walk_form_resources(value);
            } else {
                walk_below(value, {kUseFormEntry, 0, key});
            }
        }
    }

    void walk_form_resources(QPDFObjectHandle resources) {
        note(resources, {kUseFormResources});
        if (!resources.isDictionary()) return;
        for (auto &[kind, group] : resources.getDictAsMap()) {
            if (kind != "/Font" || !group.isDictionary()) {
                walk_below(group, {kUseFormResourceItem});
                continue;
            }
            note(group, {kUseFormFonts});
            for (auto &[name, font] : group.getDictAsMap()) walk_below(font, {kUseFormResourceItem});
        }
    }

    void walk_security_store(QPDFObjectHandle store) {
        note(store, {kUseSecurityStore});
        if (!store.isDictionary()) return;
        for (auto &[key, value] : store.getDictAsMap()) {
            if (key != "/VRI") {
                walk_below(value, {kUseSecurityStoreItem});
                continue;
            }
            note(value, {kUseValidationInfo});
            if (value.isDictionary())
                for (auto &[signature, data] : value.getDictAsMap()) walk_below(data, {kUseSecurityStoreItem});
        }
    }

    void walk_page(QPDFObjectHandle page, int number) {
        note(page, {kUsePage, number});
        walk_tree_above(page, number);
        for (auto &[key, value] : page.getDictAsMap()) {
            if (key == "/Parent" || key == "/Type") continue;
            if (key == "/Contents")
                walk_below(value, {kUsePageContent, number});
            else if (key == "/Resources")
                walk_below(value, {kUsePageResources, number});
            else if (key == "/Annots")
                walk_annotations(value, number);
            else
                walk_below(value, {kUsePageEntry, number, key});
        }
    }

    // The nodes above a page, with what they hand down to it.
    void walk_tree_above(QPDFObjectHandle page, int number) {
        QPDFObjectHandle node = page.getKey("/Parent");
        for (int depth = 0; depth < kMaxTreeDepth && node.isDictionary(); ++depth) {
            if (node.isIndirect() && !visited_.insert({kUsePageTree, node.getObjGen()}).second) return;
            note(node, {kUsePageTree, number});
            for (auto &[key, value] : node.getDictAsMap()) {
                if (key == "/Parent" || key == "/Kids" || key == "/Count" || key == "/Type") continue;
                if (key == "/Resources")
                    walk_below(value, {kUsePageResources, number});
                else
                    walk_below(value, {kUsePageEntry, number, key});
            }
            node = node.getKey("/Parent");
        }
    }

    void walk_annotations(QPDFObjectHandle annots, int number) {
        note(annots, {kUsePageAnnots, number});
        if (!annots.isArray()) return;
        if (annots.isIndirect() && !visited_.insert({kUsePageAnnots, annots.getObjGen()}).second) return;
        for (QPDFObjectHandle annot : annots.aitems()) walk_below(annot, {kUseAnnotation, number});
    }

    const std::set<QPDFObjGen> &wanted_;
    std::map<QPDFObjGen, ObjectUse> &out_;
    std::set<QPDFObjGen> structure_;
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
