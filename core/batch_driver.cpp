// The batch driver: many documents signed with one key, their signatures
// made together. The configuration is read once and the key loaded once;
// each document is prepared as the one-shot driver (or, with an open
// password, the encrypting driver) prepares it and its signature begun; the
// key then signs every signature of the batch at once (a remote signing
// service with one authorisation and one signing exchange); last, each
// signature is ended and written and its output kept. A document that fails
// at any step gets its own message and leaves no output; the others go on.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/err.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/output_path.h"
#include "core/signature_steps.h"
#include "crypto/keys/key_store.h"
#include "crypto/signing/byte_range.h"

namespace {

using MessageField = char[256];

struct Arguments {
    qs::DocumentTexts texts;
    const char *open_password;
    int visible, timestamp, certify;
};

// One document on its way: its output being written, what its signature is
// made with, and the signature begun.
struct Document {
    const char *input = nullptr;
    const char *output = nullptr;
    std::unique_ptr<qs::PendingOutput> out;
    qs::SignatureInputs inputs;
    qs::Placeholder where;
    qs::PendingSignature pending;
    bool failed = false;
};

// Why the step just failed: the message slot's text (fetching re-arms it for
// the next document), else the system's.
std::string why_it_failed() {
    const int number = errno;
    char text[qs::kTextField] = "";
    handle_error_message(text, 0);
    if (text[0] != '\0') return text;
    if (number != 0) return qs::format("%s [errno: %d]", std::strerror(number), number);
    return "Signing failed.";
}

void fail(Document &doc, MessageField &message, const std::string &why) {
    doc.failed = true;
    doc.out.reset();  // the partial output goes
    qs::copy_field(message, why);
}

// The document's steps up to its signature value.
int prepare(Document &doc, SigningConfig *config, const Arguments &a) {
    if (!doc.input || !doc.output) {
        qs::report("Missing input path or output path.");
        return -1;
    }
    if (qs::refuse_unusable_output(doc.input, doc.output) < 0) return -1;
    qs::FilePtr in = qs::open_input_file(doc.input);
    if (!in) return -1;
    doc.out = std::make_unique<qs::PendingOutput>(doc.output);
    if (!doc.out->get()) return -1;
    handle_debug_message(config, qs::format("Preparing %s into %s", doc.input, doc.output).c_str());
    const bool encrypted = a.open_password && a.open_password[0] != '\0';
    // An encrypted document's signature is an approval one, as sign_encrypt
    // makes it; its ranges are hashed once it is encrypted, the others' as
    // they are written.
    std::vector<unsigned char> digest;
    const int rc = encrypted ? qs::prepare_encrypted_signature(in, doc.output, doc.out->get(), a.texts, a.visible,
                                                               a.open_password, a.timestamp, config, doc.inputs,
                                                               doc.where)
                             : qs::prepare_signature(in.get(), doc.out->get(), a.texts, a.visible, a.timestamp,
                                                     a.certify, config, doc.inputs, doc.where, digest);
    if (rc < 0) return rc;
    return qs::begin_fill(config, doc.out->get(), doc.where, doc.inputs, doc.pending, &digest);
}

int finish(Document &doc, SigningConfig *config, const Arguments &a) {
    if (qs::end_fill(config, doc.out->get(), doc.where, doc.pending, a.timestamp) < 0) return -1;
    return doc.out->keep() ? 0 : -1;
}

// Runs one step of one document; a step that throws fails like one that reports.
template <typename Step>
bool step(Document &doc, MessageField &message, Step &&body) {
    errno = 0;
    const int rc = qs::guarded([&]() -> int { return body(); });
    ERR_clear_error();
    if (rc < 0) fail(doc, message, why_it_failed());
    return rc >= 0;
}

// Every document of the batch, whose key material is keys.
int sign_batch(std::vector<Document> &docs, const qs::KeyMaterial &keys, SigningConfig *config, const Arguments &a,
               int *results, MessageField *messages) {
    for (std::size_t i = 0; i < docs.size(); ++i)
        step(docs[i], messages[i], [&] { return prepare(docs[i], config, a); });

    std::vector<qs::PendingSignature *> waiting;
    for (Document &doc : docs)
        if (!doc.failed) waiting.push_back(&doc.pending);
    errno = 0;
    if (!waiting.empty() && qs::sign_pending(config, keys, waiting) < 0) {
        // No signature came: each document says so on its own.
        const std::string why = why_it_failed();
        for (std::size_t i = 0; i < docs.size(); ++i)
            if (!docs[i].failed) fail(docs[i], messages[i], why);
    }

    int status = 0;
    for (std::size_t i = 0; i < docs.size(); ++i) {
        if (!docs[i].failed && step(docs[i], messages[i], [&] { return finish(docs[i], config, a); })) {
            results[i] = 0;
            qs::copy_field(messages[i], qs::new_field_note(*config, docs[i].where));
        }
        if (results[i] != 0) status = -1;
        handle_debug_message(config, results[i] == 0 ? qs::format("Document signed: %s", docs[i].output).c_str()
                                                     : qs::format("Signing %s failed", docs[i].input).c_str());
    }
    return status;
}

}  // namespace

extern "C" {

QS_API int signing_batch_size(SigningConfig *config) {
    return qs::guarded([&]() -> int { return config ? static_cast<int>(qs::configured_batch(*config)) : 1; });
}

QS_API int sign_many(int count, const char *const *inputs, const char *const *outputs, const char *location,
                     const char *reason, const char *open_password, int visible, const char *title,
                     const char *author, const char *subject, const char *keywords, const char *configuration,
                     int timestamp, int certify, int *results, char (*messages)[256]) {
    return qs::guarded([&]() -> int {
        if (count < 0 || (count > 0 && (!inputs || !outputs || !results || !messages))) {
            qs::report("Missing documents, or places for their results.");
            return -1;
        }
        for (int i = 0; i < count; ++i) {
            results[i] = -1;
            messages[i][0] = '\0';
        }
        SigningConfig *raw = nullptr;
        int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc == 0) rc = tsa_ok(config.get(), timestamp);
        // The key is loaded once: a service that cannot be reached is tried once for the whole batch.
        qs::KeyMaterial keys;
        if (rc == 0 && qs::load_signer_keys(config.get(), keys) < 0) rc = -1;
        if (rc < 0) {
            const std::string why = why_it_failed();
            for (int i = 0; i < count; ++i) qs::copy_field(messages[i], why);
            return rc;
        }
        handle_debug_message(config.get(), qs::format("Signing %d documents together", count).c_str());
        std::vector<Document> docs(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            docs[static_cast<std::size_t>(i)].input = inputs[i];
            docs[static_cast<std::size_t>(i)].output = outputs[i];
        }
        const Arguments a{{location, reason, title, author, subject, keywords}, open_password, visible, timestamp,
                          certify};
        return sign_batch(docs, keys, config.get(), a, results, messages);
    });
}

}  // extern "C"
