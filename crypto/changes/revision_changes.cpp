// The revisions after a signature, one update at a time, followed through
// the /Prev chain as readers follow it: each update's layout must leave
// readers no room to differ; then the objects it defines are found by
// comparing the cross-reference tables of the revisions before and after it;
// an object defined anew whose content is unchanged is no change; every other
// one is judged by what the revision before used it for. Objects are read one
// at a time and streams are compared by digest, so memory does not grow with
// the size of the document's data.
#include "crypto/changes/revision_changes.h"

#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include <openssl/evp.h>
#include <qpdf/Pipeline.hh>

#include "core/base/handles.h"
#include "crypto/changes/allowed_changes.h"
#include "crypto/changes/form_changes.h"
#include "crypto/changes/object_uses.h"
#include "pdf/input_warnings.h"
#include "pdf/revision_reader.h"
#include "pdf/update_layout.h"

namespace qs {
namespace {

const std::string kChanged = "The document was changed after it was signed: ";
const std::string kUnreadable = "The updates after the signature cannot be compared with what it signed: ";
const std::string kAmbiguous = "An update after the signature may be read differently by different readers: ";
constexpr std::size_t kMaxLaterRevisions = 256;

struct TableChanges {
    std::set<QPDFObjGen> added;      // defined after, not before
    std::set<QPDFObjGen> rewritten;  // defined in both, at another place
    std::set<QPDFObjGen> removed;    // defined before, not after
};

bool same_entry(const QPDFXRefEntry &a, const QPDFXRefEntry &b) {
    if (a.getType() != b.getType()) return false;
    if (a.getType() == 1) return a.getOffset() == b.getOffset();
    return a.getObjStreamNumber() == b.getObjStreamNumber() && a.getObjStreamIndex() == b.getObjStreamIndex();
}

TableChanges compare_tables(QPDF &before, QPDF &after) {
    const std::map<QPDFObjGen, QPDFXRefEntry> was = before.getXRefTable(), now = after.getXRefTable();
    TableChanges changes;
    auto old_entry = was.begin();
    auto new_entry = now.begin();
    while (old_entry != was.end() || new_entry != now.end()) {
        if (new_entry == now.end() || (old_entry != was.end() && old_entry->first < new_entry->first)) {
            changes.removed.insert((old_entry++)->first);
        } else if (old_entry == was.end() || new_entry->first < old_entry->first) {
            changes.added.insert((new_entry++)->first);
        } else {
            if (!same_entry(old_entry->second, new_entry->second)) changes.rewritten.insert(new_entry->first);
            ++old_entry;
            ++new_entry;
        }
    }
    return changes;
}

// SHA-256 of the bytes piped through it.
class DigestPipeline : public Pipeline {
public:
    DigestPipeline() : Pipeline("stream digest", nullptr), context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("The stream digest cannot be started.");
    }
    void write(unsigned char const *data, size_t length) override {
        if (EVP_DigestUpdate(context_.get(), data, length) != 1)
            throw std::runtime_error("The stream digest failed.");
    }
    void finish() override {}
    std::string digest() {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), out, &length) != 1)
            throw std::runtime_error("The stream digest failed.");
        return std::string(reinterpret_cast<char *>(out), length);
    }

private:
    EvpMdCtxPtr context_;
};

// The digest of a stream's data as stored, filters not applied.
std::string stored_data_digest(QPDFObjectHandle stream) {
    DigestPipeline digest;
    if (!stream.pipeStreamData(&digest, 0, qpdf_dl_none, true)) return std::string();
    return digest.digest();
}

bool same_object(QPDFObjectHandle before, QPDFObjectHandle after) {
    if (before.getTypeCode() != after.getTypeCode()) return false;
    if (!before.isStream()) return before.unparseResolved() == after.unparseResolved();
    if (before.getDict().unparse() != after.getDict().unparse()) return false;
    const std::string was = stored_data_digest(before);
    return !was.empty() && was == stored_data_digest(after);
}

// The revision that ends at end, or nothing when the "%%EOF" there turns out
// to lie inside the data of an update rather than at its end. The last one
// must be readable.
std::unique_ptr<QPDF> open_update(std::FILE *file, long end, bool last) {
    try {
        return open_revision(file, end, false);
    } catch (const std::exception &) {
        if (last) throw;
        return nullptr;
    }
}

// The first problem qpdf met while reading an object the update defines:
// qpdf makes a null of an object it cannot read, where another reader would
// rebuild the update and show something else. Blemishes of the objects the
// update leaves alone belong to the revisions before it.
std::string damage_in_update(QPDF &after, const TableChanges &table) {
    for (const QPDFExc &warning : after.getWarnings()) {
        QPDFObjGen object;
        if (!warning_object(warning, object) || table.added.count(object) || table.rewritten.count(object))
            return warning.getMessageDetail();
    }
    return std::string();
}

// What the update changed that it may not, or an empty text.
std::string first_change(UpdateContext &context, const TableChanges &table) {
    QPDF &before = context.before, &after = context.after;
    if (!table.removed.empty()) return "objects the signature covers were removed";
    std::string change = judge_trailer(context);
    if (!change.empty()) return change;

    std::set<QPDFObjGen> changed;
    for (const QPDFObjGen &id : table.rewritten)
        if (!same_object(before.getObjectByObjGen(id), after.getObjectByObjGen(id))) changed.insert(id);
    if (changed.empty() && table.added.empty()) return std::string();

    std::set<QPDFObjGen> wanted = changed;
    wanted.insert(table.added.begin(), table.added.end());
    const std::map<QPDFObjGen, ObjectUse> uses = object_uses(before, wanted);
    find_added_signature_fields(context);
    find_signed_form_fields(context);
    for (const QPDFObjGen &id : changed) {
        const auto use = uses.find(id);
        change = judge_object(use == uses.end() ? ObjectUse() : use->second, before.getObjectByObjGen(id),
                              after.getObjectByObjGen(id), context);
        if (!change.empty()) return change;
    }
    // An added object that the signed revision already referred to, at any
    // depth, now takes the place of the null it had there.
    for (const QPDFObjGen &id : table.added) {
        const auto use = uses.find(id);
        if (use == uses.end()) continue;
        change = judge_object(use->second, QPDFObjectHandle::newNull(), after.getObjectByObjGen(id), context);
        if (!change.empty()) return change;
    }
    return std::string();
}

// The failure message for the update from before to after, or an empty text
// with the kinds of its changes added to kinds.
std::string revision_change(std::FILE *file, QPDF &before, QPDF &after, const UpdateBounds &bounds,
                            const FormRules &rules, unsigned &kinds) {
    const TableChanges table = compare_tables(before, after);
    UpdateContext context{before, after, bounds, table.added, {}, {}};
    context.file = file;
    context.rules = rules;
    const std::string change = first_change(context, table);
    const std::string damage = damage_in_update(after, table);
    if (!damage.empty()) return kUnreadable + damage;
    if (!change.empty()) return kChanged + change;
    kinds |= context.kinds;
    return std::string();
}

LaterUpdates refused(const std::string &reason) {
    LaterUpdates result;
    result.outcome = LaterUpdates::Outcome::Refused;
    result.reason = reason;
    return result;
}

LaterUpdates judge_updates(std::FILE *file, long signed_end, long size) {
    const std::vector<RevisionEnd> ends = later_revision_ends(file, signed_end, size, kMaxLaterRevisions);
    if (ends.size() > kMaxLaterRevisions)
        return refused("The document has more than " + std::to_string(kMaxLaterRevisions) +
                       " updates after its signature.");
    // What follows the last complete update may be a comment or blank
    // lines; an update without its proper end is read differently by
    // different readers, so it cannot be compared.
    const long complete = ends.empty() ? signed_end : ends.back().end;
    if (holds_document_parts(file, complete, size)) return refused(kUnreadable + "the file ends in an incomplete update");
    LaterUpdates result;
    if (ends.empty()) return result;
    // The signed revision is read as the newest signature was found: a
    // damaged cross-reference section is rebuilt. Later ones must be sound.
    std::unique_ptr<QPDF> before = open_revision(file, signed_end, true);
    // The locks and filling rights the signed revision's signatures set hold for every update after it.
    const FormRules rules = form_rules(*before);
    long previous_section = revision_startxref(file, signed_end);
    if (previous_section < 0) return refused(kUnreadable + "the signed revision has no end of its own");
    long start = signed_end;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        std::unique_ptr<QPDF> after = open_update(file, ends[i].end, i + 1 == ends.size());
        if (!after) continue;
        after->getWarnings();  // what was noticed on opening concerns the revisions before
        const UpdatePlace place{start, ends[i].end, ends[i].startxref, previous_section};
        const std::string layout = update_layout_problem(file, place, *before, *after);
        if (!layout.empty()) return refused(kAmbiguous + layout);
        const std::string problem =
            revision_change(file, *before, *after, {start, ends[i].eof, ends[i].end}, rules, result.kinds);
        if (!problem.empty()) return refused(problem);
        before = std::move(after);
        previous_section = ends[i].startxref;
        start = ends[i].end;
    }
    result.outcome = LaterUpdates::Outcome::Allowed;
    return result;
}

}  // namespace

LaterUpdates judge_later_updates(std::FILE *file, long signed_end, long size) {
    try {
        return judge_updates(file, signed_end, size);
    } catch (const QPDFExc &e) {
        return refused(kUnreadable + e.getMessageDetail());
    } catch (const std::exception &e) {
        return refused(kUnreadable + e.what());
    }
}

}  // namespace qs
