// Field locks: which form fields a signature freezes. A signature field's
// /Lock says it before the field is signed; the signature then carries it as
// a /Reference with the FieldMDP transform, whose parameters name the same
// action and fields. A lock with /P also sets the document's permissions
// (the DocMDP level) from that signature on.
#pragma once

#include <string>
#include <vector>

#include "pdf/qpdf_api.h"

namespace qs {

struct FieldLock {
    enum class Action { All, Include, Exclude } action = Action::All;
    std::vector<std::string> fields;  // fully qualified names (UTF-8)
    int permissions = 0;              // /P: 1, 2 or 3; 0 when absent
};

// The lock a /Lock dictionary or FieldMDP transform parameters describe;
// false when the value is neither (no known /Action).
bool read_field_lock(QPDFObjectHandle dictionary, FieldLock &lock);

// The lock of a siglock= text: "all", "include:a,b" or "exclude:a,b"; false,
// reported, for anything else, an include or exclude without names among it.
bool parse_siglock(const std::string &text, FieldLock &lock);

// True when the lock freezes the field of this fully qualified name. A name
// in the lock also names every field below it.
bool locks_field(const FieldLock &lock, const std::string &name);

// The /Lock dictionary (/Type /SigFieldLock) of a lock.
QPDFObjectHandle lock_dictionary(const FieldLock &lock);

// Appends to a signature's /Reference array the FieldMDP reference of the
// lock and, for a lock with /P, a DocMDP reference of that level. data is the
// object the transforms are computed on (the catalog).
void append_lock_references(QPDFObjectHandle references, const FieldLock &lock, QPDFObjectHandle data);

// Appends a DocMDP reference of this level (/P) to a signature's /Reference array.
void append_docmdp_reference(QPDFObjectHandle references, int level, QPDFObjectHandle data);

// The locks of a signed signature field: the FieldMDP references of its
// value and the /Lock of the field itself.
std::vector<FieldLock> signature_locks(QPDFObjectHandle field, QPDFObjectHandle value);

}  // namespace qs
