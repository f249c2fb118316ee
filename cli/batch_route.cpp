#include "cli/batch_route.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <string>

#include <quillseal/quillseal.h>

#include "cli/routes.h"

namespace cli {
namespace {

// What sign_many said of each document of the run, by input path, for its
// status line: why it failed, or the note of a field made for it.
using Reasons = std::map<std::string, std::string>;

// One batch through sign_many, each document written at its path.
std::vector<int> sign_batch(const Options &o, const std::vector<Document> &batch,
                            const std::vector<std::string> &paths, Reasons &why) {
    std::vector<const char *> inputs, outputs;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        inputs.push_back(batch[i].input.c_str());
        outputs.push_back(paths[i].c_str());
    }
    std::vector<int> results(batch.size(), -1);
    std::vector<std::array<char, 256>> messages(batch.size());
    sign_many(static_cast<int>(batch.size()), inputs.data(), outputs.data(), o.location.c_str(), o.reason.c_str(),
              o.password.c_str(), o.visible, o.title.c_str(), o.author.c_str(), o.subject.c_str(),
              o.keywords.c_str(), o.config.c_str(), o.timestamp, o.certify, results.data(),
              reinterpret_cast<char(*)[256]>(messages.data()));
    for (std::size_t i = 0; i < batch.size(); ++i) why[batch[i].input] = messages[i].data();
    return results;
}

std::string said_of(const Document &doc, const Reasons &why) {
    const auto found = why.find(doc.input);
    return found != why.end() ? found->second : std::string();
}

std::string document_line(const Options &o, const Document &doc, int result, const Reasons &why) {
    if (result == 0) return success_line(o.command, doc.input, doc.output, said_of(doc, why));
    const std::string reason = said_of(doc, why);
    return document_failure_line(reason.empty() ? failure_text() : reason, doc.input);
}

// The batches one after the other in this process, documents whose output
// exists already left out of them.
int run_here(const Options &o, const std::vector<Document> &documents, std::size_t together, bool &failed) {
    Reasons why;
    int status = 0;
    for (std::size_t next = 0; next < documents.size();) {
        std::vector<Document> batch;
        std::vector<std::string> paths;
        for (; next < documents.size() && batch.size() < together; ++next) {
            const Document &doc = documents[next];
            if (access(doc.output.c_str(), F_OK) == 0) {
                std::fputs(exists_line(doc.input, doc.output).c_str(), stdout);
                continue;
            }
            batch.push_back(doc);
            paths.push_back(doc.output);
        }
        if (batch.empty()) continue;
        const std::vector<int> results = sign_batch(o, batch, paths, why);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            status = results[i];
            if (status != 0) failed = true;
            std::fputs(document_line(o, batch[i], status, why).c_str(), stdout);
        }
        std::fflush(stdout);
    }
    return status;
}

}  // namespace

int run_batches(const Options &o, const std::vector<Document> &documents, std::size_t together,
                const WorkerPlan &plan, bool &failed) {
    if (o.jobs.empty()) return run_here(o, documents, together, failed);
    // Each worker is a process of its own: the reasons it keeps are its documents'.
    Reasons why;
    DocumentWork work;
    work.together = together;
    work.run_together = [&o, &why](const std::vector<Document> &batch, const std::vector<std::string> &paths) {
        return sign_batch(o, batch, paths, why);
    };
    work.finished_line = [&o, &why](const Document &doc, int result) { return document_line(o, doc, result, why); };
    work.skipped_line = [](const Document &doc) { return exists_line(doc.input, doc.output); };
    const int status = run_in_workers(documents, o.output, plan, work);
    if (status != 0) failed = true;
    return status;
}

}  // namespace cli
