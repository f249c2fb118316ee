// What the objects of a document are for: the catalog, the information
// dictionary, the form and its resources, the security store, and per page
// the page itself, its content, resources and annotations. A later update
// that rewrites an object is judged by what the object was used for in the
// revision before it.
#pragma once

#include <map>
#include <set>
#include <string>

#include "pdf/qpdf_api.h"

namespace qs {

enum ObjectUseFlag : unsigned {
    kUsePageContent = 1u << 0,          // a content stream of a page, or the array of them
    kUsePageResources = 1u << 1,        // a page's resources, or one of them
    kUseAnnotation = 1u << 2,           // an annotation of a page, or one of its appearances
    kUsePageAnnots = 1u << 3,           // the /Annots array of a page
    kUsePage = 1u << 4,                 // a page dictionary
    kUsePageTree = 1u << 5,             // a node of the page tree
    kUseCatalog = 1u << 6,              // the document catalog
    kUseCatalogEntry = 1u << 7,         // reached from another catalog entry (/OpenAction, /Names, ...)
    kUseInfo = 1u << 8,                 // the document information dictionary
    kUseForm = 1u << 9,                 // the interactive form dictionary
    kUseFormFields = 1u << 10,          // the form's /Fields array
    kUseFormField = 1u << 11,           // a field listed in /Fields
    kUseFormResources = 1u << 12,       // the form's /DR dictionary
    kUseFormFonts = 1u << 13,           // the /Font dictionary of /DR
    kUseFormResourceItem = 1u << 14,    // a font or other resource inside /DR
    kUseSecurityStore = 1u << 15,       // the /DSS dictionary
    kUseValidationInfo = 1u << 16       // the /VRI dictionary of the /DSS
};

struct ObjectUse {
    unsigned flags = 0;
    int page = 0;             // first page (1-based) that uses the object, for page uses
    std::string catalog_key;  // the catalog entry, for kUseCatalogEntry
};

// The uses in pdf of the objects named in wanted (other objects are walked
// past but not recorded, so the result stays small for any document). An
// object may be named by a reference although pdf does not define it.
std::map<QPDFObjGen, ObjectUse> object_uses(QPDF &pdf, const std::set<QPDFObjGen> &wanted);

}  // namespace qs
