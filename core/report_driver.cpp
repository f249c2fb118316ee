// The validation report: every signature and document timestamp of a
// document, oldest first, each judged for integrity, what was written after
// it, its signature timestamp, the trust of its chain, its revocation and its
// PAdES level, written as pretty-printed JSON. Nothing is fetched.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/storeless_config.h"
#include "crypto/changes/signature_assessment.h"
#include "crypto/changes/signature_judgement.h"
#include "crypto/hex.h"
#include "crypto/trust/chain_trust.h"
#include "pdf/signature_inventory.h"

namespace {

constexpr const char *kPadesFilter = "ETSI.CAdES.detached";

struct Judged {
    const qs::SignatureJudgement *judgement = nullptr;  // shared with verify
    qs::SignatureFacts facts;
    std::string pades;  // empty: none
};

// A document timestamp that may be believed: intact, its authority one that
// may stamp and that chains to the anchors.
bool trusted_document_timestamp(const Judged &j) {
    return j.judgement->entry.document_timestamp && j.judgement->intact && j.facts.chain.trust == "trusted";
}

// The PAdES baseline level of a signature made with the ETSI sub-filter,
// judged by what the document holds for it; only timestamps that may be
// believed count.
std::string pades_level(const Judged &j, const std::vector<Judged> &all) {
    const qs::SignatureEntry &entry = j.judgement->entry;
    if (entry.document_timestamp || entry.subfilter != kPadesFilter || !j.facts.signing_certificate_v2)
        return std::string();
    if (!j.facts.timestamp.trusted) return "B-B";
    if (!j.facts.chain.store_covers_chain) return "B-T";
    for (const Judged &later : all)
        if (trusted_document_timestamp(later) && later.judgement->revision_end > j.judgement->revision_end)
            return "B-LTA";
    return "B-LT";
}

const char *kind_of(const qs::SignatureEntry &entry) {
    if (entry.document_timestamp) return "timestamp";
    return entry.certification ? "certification" : "approval";
}

json_object *text_or_null(const std::string &text) {
    return text.empty() ? nullptr : json_object_new_string(text.c_str());
}

void put(json_object *object, const char *key, json_object *value) { json_object_object_add(object, key, value); }

json_object *timestamp_json(const qs::TimestampFacts &t) {
    if (!t.present) return nullptr;
    json_object *object = json_object_new_object();
    put(object, "time", t.time ? json_object_new_string(qs::iso_time(t.time).c_str()) : nullptr);
    put(object, "intact", json_object_new_boolean(t.intact));
    put(object, "tsa", text_or_null(t.tsa));
    put(object, "trusted", json_object_new_boolean(t.trusted));
    if (!t.detail.empty()) put(object, "intact_detail", json_object_new_string(t.detail.c_str()));
    if (!t.trust_detail.empty()) put(object, "trust_detail", json_object_new_string(t.trust_detail.c_str()));
    return object;
}

json_object *entry_json(const Judged &j) {
    const qs::SignatureJudgement &g = *j.judgement;
    const qs::SignatureFacts &f = j.facts;
    json_object *object = json_object_new_object();
    put(object, "field", json_object_new_string(g.entry.field.c_str()));
    put(object, "kind", json_object_new_string(kind_of(g.entry)));
    if (g.entry.certification) put(object, "certification_level", json_object_new_int(g.entry.certification));
    put(object, "subfilter", text_or_null(g.entry.subfilter));
    put(object, "signer", text_or_null(f.signer));
    put(object, "serial", text_or_null(f.serial));
    put(object, "hash", text_or_null(f.hash));
    put(object, "signing_time", text_or_null(f.signing_time));
    put(object, "intact", json_object_new_boolean(g.intact));
    if (!g.intact_detail.empty()) put(object, "intact_detail", json_object_new_string(g.intact_detail.c_str()));
    put(object, "revision_end", g.revision_end >= 0 ? json_object_new_int64(g.revision_end) : nullptr);
    put(object, "changes", json_object_new_string(g.changes.verdict.c_str()));
    put(object, "changes_detail", json_object_new_string(g.changes.detail.c_str()));
    json_object *kinds = json_object_new_array();
    for (const std::string &kind : g.changes.kinds) json_object_array_add(kinds, json_object_new_string(kind.c_str()));
    put(object, "changes_kinds", kinds);
    put(object, "timestamp", timestamp_json(f.timestamp));
    put(object, "trust", json_object_new_string(f.chain.trust.c_str()));
    put(object, "trust_detail", json_object_new_string(f.chain.trust_detail.c_str()));
    put(object, "revocation", json_object_new_string(f.chain.revocation.c_str()));
    put(object, "revocation_detail", json_object_new_string(f.chain.revocation_detail.c_str()));
    put(object, "pades", text_or_null(j.pades));
    return object;
}

// Sound as verify judges it, and trusted.
bool acceptable(const Judged &j) {
    return j.judgement->intact && j.judgement->changes.verdict != "disallowed" && j.facts.chain.trust == "trusted";
}

// Every signature judged, then the whole written out.
int run_report(std::FILE *file, long size, const char *path, const std::string &anchors, std::string &json,
               bool &valid) {
    QPDF pdf;
    if (!qs::read_whole_document(file, pdf)) return -1;
    qs::StoreContents store;
    try {
        store = qs::read_security_store(pdf);
    } catch (const QPDFExc &e) {
        qs::report(std::string("The document cannot be read as a PDF: ") + e.getMessageDetail());
        return -1;
    }
    std::vector<qs::SignatureJudgement> judgements;
    if (!qs::judge_signatures(file, size, pdf, judgements)) return -1;
    const qs::TrustMaterial material(anchors, store.certs, store.ocsps, store.crls);
    std::vector<Judged> judged;
    for (const qs::SignatureJudgement &judgement : judgements) {
        Judged j;
        j.judgement = &judgement;
        j.facts = qs::assess_signature(judgement, material);
        judged.push_back(std::move(j));
    }
    valid = !judged.empty();
    qs::JsonPtr root(json_object_new_object());
    json_object *signatures = json_object_new_array();
    for (Judged &j : judged) {
        j.pades = pades_level(j, judged);
        valid = valid && acceptable(j);
        json_object_array_add(signatures, entry_json(j));
    }
    put(root.get(), "file", json_object_new_string(path));
    put(root.get(), "valid", json_object_new_boolean(valid));
    put(root.get(), "signatures", signatures);
    json = json_object_to_json_string_ext(root.get(), JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED | JSON_C_TO_STRING_NOSLASHESCAPE);
    return 0;
}

}  // namespace

extern "C" {

QS_API int signature_report(const char *input, const char *configuration, char **report, int *valid) {
    return qs::guarded([&]() -> int {
        if (report) *report = nullptr;
        if (valid) *valid = 0;
        // A report needs no key store.
        qs::ConfigPtr config = qs::read_storeless_config(configuration);
        if (!config) return -1;
        return signature_report_internal(input, config.get(), report, valid);
    });
}

QS_API int signature_report_internal(const char *input, SigningConfig *config, char **report, int *valid) {
    return qs::guarded([&]() -> int {
        if (report) *report = nullptr;
        if (valid) *valid = 0;
        if (!input || !report) {
            qs::report("Missing document or place for the report.");
            return -1;
        }
        const std::string anchors = config ? config->trustca : "";  // empty: the system's anchors
        qs::FilePtr file =
            qs::open_input_file(input, qs::OpenFor::Reading, "The document to report on is not a regular file.");
        if (!file) return -1;
        struct stat info {};
        if (fstat(fileno(file.get()), &info) != 0 || info.st_size == 0) {
            qs::report("The document to report on is empty.");
            return -1;
        }
        std::string json;
        bool all_valid = false;
        if (run_report(file.get(), static_cast<long>(info.st_size), input, anchors, json, all_valid) < 0) return -1;
        *report = qs::malloc_text(json);
        if (!*report) {
            qs::report("Out of memory for the report.");
            return -1;
        }
        if (valid) *valid = all_valid ? 1 : 0;
        return 0;
    });
}

}  // extern "C"
