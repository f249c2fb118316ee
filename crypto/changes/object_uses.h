// What the objects of a document are for: the catalog, the information
// dictionary, the form and its resources, the security store, and per page
// the page itself, its content, resources and annotations, each with
// everything it reaches at any depth. A later update that rewrites an object,
// or defines one the document named without defining it, is judged by what
// the object was used for in the revision before it.
#pragma once

#include <map>
#include <set>
#include <string>

#include "pdf/qpdf_api.h"

namespace qs {

enum ObjectUseFlag : unsigned {
    kUsePageContent = 1u << 0,          // a content stream of a page, the array of them, or what they reach
    kUsePageResources = 1u << 1,        // a page's resources and all they reach: XObjects and their own
                                        // resources, fonts and their files, patterns, shadings, soft masks,
                                        // optional content
    kUseAnnotation = 1u << 2,           // an annotation of a page and all it reaches: appearances, pop-ups, actions
    kUsePageAnnots = 1u << 3,           // the /Annots array of a page
    kUsePage = 1u << 4,                 // a page dictionary
    kUsePageTree = 1u << 5,             // a node of the page tree
    kUseCatalog = 1u << 6,              // the document catalog
    kUseCatalogEntry = 1u << 7,         // reached from another catalog entry (/OpenAction, /Names, /Metadata, ...)
    kUseInfo = 1u << 8,                 // the document information dictionary, or what its entries name
    kUseForm = 1u << 9,                 // the interactive form dictionary
    kUseFormFields = 1u << 10,          // the form's /Fields array
    kUseFormField = 1u << 11,           // a field listed in /Fields, or what it reaches
    kUseFormResources = 1u << 12,       // the form's /DR dictionary
    kUseFormFonts = 1u << 13,           // the /Font dictionary of /DR
    kUseFormResourceItem = 1u << 14,    // a font or other resource inside /DR, or what it reaches
    kUseSecurityStore = 1u << 15,       // the /DSS dictionary
    kUseValidationInfo = 1u << 16,      // the /VRI dictionary of the /DSS
    kUseSecurityStoreItem = 1u << 17,   // data the security store holds
    kUsePageEntry = 1u << 18,           // reached from another entry of a page or page tree node (/AA, /Thumb, ...)
    kUseFormEntry = 1u << 19            // reached from another entry of the form (/XFA, /CO, ...)
};

struct ObjectUse {
    unsigned flags = 0;
    int page = 0;     // first page (1-based) that uses the object, for page uses
    std::string key;  // the entry, for kUseCatalogEntry, kUsePageEntry and kUseFormEntry
};

// The uses in pdf of the objects named in wanted (other objects are walked
// past but not recorded, so the result stays small for any document). An
// object may be named by a reference although pdf does not define it.
std::map<QPDFObjGen, ObjectUse> object_uses(QPDF &pdf, const std::set<QPDFObjGen> &wanted);

}  // namespace qs
