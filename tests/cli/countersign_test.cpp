// Signing a document that carries a signature already, through the real
// program: the new revision changes the catalog only as a further signature
// needs, so every earlier signature stays valid, also for a verifier that
// compares the revisions object by object; this system's mark goes into
// unsigned documents only. verify refuses a later update that adds such an
// unexplained catalog key.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "cli/cli_support.h"
#include "crypto/changes/revision_changes.h"
#include "pdf/qpdf_api.h"

namespace {

using qstest::fixture;
using qstest::read_file;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;

// input signed by another program, poppler's pdfsig. Empty when the NSS tools are missing.
std::string signed_elsewhere(const qstest::TempDir &dir, const std::string &input) {
    const qstest::OtherSigner other(dir);
    if (!other.usable()) return "";
    const std::string out = dir.file("signed-elsewhere.pdf");
    const auto made = other.sign("Approval", input, out, true);
    EXPECT_EQ(made.status, 0) << made.out;
    return out;
}

std::string signed_here(const qstest::TempDir &dir, const std::string &input, const std::string &out) {
    const auto r = run_cli({"-i", input, "-o", out, "-z", clitest::write_config(dir)});
    EXPECT_EQ(r.out.rfind("0#Document signed", 0), 0u) << r.out;
    return out;
}

// The catalog keys whose values differ between two documents.
std::set<std::string> changed_catalog_keys(const std::string &before, const std::string &after) {
    QPDF was, now;
    was.processFile(before.c_str());
    now.processFile(after.c_str());
    std::set<std::string> keys = was.getRoot().getKeys(), changed;
    for (const std::string &key : now.getRoot().getKeys()) keys.insert(key);
    for (const std::string &key : keys)
        if (was.getRoot().getKey(key).unparse() != now.getRoot().getKey(key).unparse()) changed.insert(key);
    return changed;
}

// Appends an update, as another program would, that sets key in the catalog
// to value (PDF text).
void append_catalog_key(const std::string &path, const std::string &key, const std::string &value) {
    QPDF pdf;
    pdf.processFile(path.c_str());
    QPDFObjectHandle root = pdf.getRoot(), trailer = pdf.getTrailer();
    root.replaceKey(key, QPDFObjectHandle::parse(value));
    std::string bytes = read_file(path);
    const long previous = std::stol(bytes.substr(bytes.rfind("startxref") + 9, 24));
    char entry[64];
    std::snprintf(entry, sizeof entry, "%d 1\n%010zu %05d n\r\n", root.getObjectID(), bytes.size(),
                  root.getGeneration());
    bytes += std::to_string(root.getObjectID()) + " " + std::to_string(root.getGeneration()) + " obj\n" +
             root.unparseResolved() + "\nendobj\n";
    const std::size_t table_at = bytes.size();
    bytes += std::string("xref\n") + entry + "trailer\n<< /Size " + trailer.getKey("/Size").unparse() + " /Root " +
             trailer.getKey("/Root").unparse() + " /Info " + trailer.getKey("/Info").unparse() + " /ID " +
             trailer.getKey("/ID").unparse() + " /Prev " + std::to_string(previous) + " >>\nstartxref\n" +
             std::to_string(table_at) + "\n%%EOF\n";
    qstest::write_file(path, bytes);
}

std::size_t count(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Countersigning, ChangesTheCatalogOnlyAsAFurtherSignatureNeeds) {
    qstest::TempDir dir;
    const std::string one_page = fixture("one-page.pdf");
    const struct {
        const char *name;
        std::string input;
        std::set<std::string> changed;  // catalog keys the new revision changes
        std::size_t signatures;         // in the output
    } cases[] = {
        {"unsigned", one_page, {"/AcroForm", "/Quillseal"}, 1},
        {"signed by this program", signed_here(dir, one_page, dir.file("signed-here.pdf")), {"/AcroForm"}, 2},
        {"signed by another program", signed_elsewhere(dir, one_page), {"/AcroForm"}, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.input.empty()) {
            std::printf("skipped (no NSS tools to sign with another program): %s\n", c.name);
            continue;
        }
        const std::string out = dir.file("countersigned.pdf");
        signed_here(dir, c.input, out);
        EXPECT_EQ(changed_catalog_keys(c.input, out), c.changed);
        const std::string sig = run_shell("pdfsig " + shell_quote(out) + " 2>&1").out;
        EXPECT_EQ(count(sig, "Signature is Valid"), c.signatures) << sig;
        if (c.signatures > 1) {
            // The countersignature's update is one the earlier signature allows.
            const long signed_end = static_cast<long>(qstest::read_file(c.input).size());
            const long size = static_cast<long>(qstest::read_file(out).size());
            std::FILE *file = std::fopen(out.c_str(), "rb");
            ASSERT_NE(file, nullptr);
            const qs::LaterUpdates later = qs::judge_later_updates(file, signed_end, size);
            std::fclose(file);
            EXPECT_EQ(later.outcome, qs::LaterUpdates::Outcome::Allowed) << later.reason;
        }
        EXPECT_EQ(run_cli({"verify", "-i", out}).out.rfind("0#Document signature verified", 0), 0u);

        append_catalog_key(out, "/Quillseal", "(v0.9.0)");
        EXPECT_EQ(run_cli({"verify", "-i", out}).out,
                  "-1#Document signature verification fails [The document was changed after it was signed: the "
                  "document catalog entry /Quillseal]\n");
        std::remove(out.c_str());
    }
}

}  // namespace
