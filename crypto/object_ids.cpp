#include "crypto/object_ids.h"

#include <openssl/err.h>
#include <openssl/objects.h>

namespace qs {
namespace {

void register_oid(const char *oid, const char *name) {
    if (OBJ_txt2nid(oid) != NID_undef) return;
    if (OBJ_create(oid, name, name) == NID_undef) ERR_clear_error();
}

}  // namespace

void register_signature_oids() {
    static const bool done = [] {
        register_oid(kRevocationInfoArchival, "revocationInfoArchival");
        register_oid(kTimeStampToken, "timeStampToken");
        return true;
    }();
    (void)done;
}

int oid_nid(const char *oid) {
    register_signature_oids();
    return OBJ_txt2nid(oid);
}

}  // namespace qs
