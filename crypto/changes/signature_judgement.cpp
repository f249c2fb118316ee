#include "crypto/changes/signature_judgement.h"

#include <exception>

#include "core/base/guard.h"
#include "crypto/changes/verifier.h"

namespace qs {
namespace {

constexpr long kEofSearch = 1024;

// A /ByteRange that cannot be read gives its signature no place among the
// others, so it is taken for the newest: a damaged newest signature never
// lets an older one stand in for it.
constexpr const char *kUnreadableRange = "The /ByteRange of the newest signature is not an array of four integers.";

// The offset of the "%%EOF" that ends the bytes [0, end).
long eof_before(std::FILE *file, long end) {
    const long from = end > kEofSearch ? end - kEofSearch : 0;
    std::vector<char> tail(static_cast<std::size_t>(end - from));
    if (tail.empty() || std::fseek(file, from, SEEK_SET) != 0 || std::fread(tail.data(), 1, tail.size(), file) != tail.size())
        return -1;
    const std::string text(tail.data(), tail.size());
    const std::size_t at = text.rfind("%%EOF");
    return at == std::string::npos ? -1 : from + static_cast<long>(at);
}

SignatureJudgement judge_one(std::FILE *file, long size, const SignatureEntry &entry) {
    SignatureJudgement judged;
    judged.entry = entry;
    if (!entry.range_readable) {
        judged.intact_detail = kUnreadableRange;
        judged.changes = judge_later_changes(file, size, size, entry.certification);
        return judged;
    }
    const long signed_end = entry.range[2] + entry.range[3];
    {
        ToleratedFailure tolerated;
        judged.intact = verify_signature_at(file, size, entry.range, entry.document_timestamp, judged.cms) == 0;
        judged.intact_detail = judged.intact ? std::string() : tolerated.take();
        tolerated.take();
        if (!judged.intact && judged.intact_detail.empty()) judged.intact_detail = "The signature does not verify.";
    }
    if (signed_end <= size) judged.revision_end = eof_before(file, signed_end);
    judged.changes = judge_later_changes(file, signed_end <= size ? signed_end : size, size, entry.certification);
    return judged;
}

void report_document_failure(const std::string &detail) {
    report("The document cannot be read as a PDF: " + detail);
}

}  // namespace

bool judge_signatures(std::FILE *file, long size, QPDF &pdf, std::vector<SignatureJudgement> &judged) {
    judged.clear();
    try {
        for (const SignatureEntry &entry : list_signatures(pdf)) judged.push_back(judge_one(file, size, entry));
        return true;
    } catch (const QPDFExc &e) {
        report_document_failure(e.getMessageDetail());
    } catch (const std::exception &e) {
        report_document_failure(e.what());
    }
    judged.clear();
    return false;
}

int refuse_unsound(const std::vector<SignatureJudgement> &judged) {
    if (judged.empty()) {
        report("No signature found!");
        return -1;
    }
    for (auto it = judged.rbegin(); it != judged.rend(); ++it) {
        const std::string problem =
            !it->intact ? it->intact_detail : it->changes.verdict == "disallowed" ? it->changes.detail : std::string();
        if (problem.empty()) continue;
        if (it == judged.rbegin())
            report(problem);
        else
            report("The earlier signature of the field \"" + it->entry.field + "\" does not stand: " + problem);
        return -1;
    }
    return 0;
}

}  // namespace qs
