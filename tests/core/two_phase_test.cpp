// Two-phase signing as a remote signer uses it: the first phase, the signing
// service and the second phase each run in a process of their own, and the
// result is judged by pdfsig, qpdf and the quillseal program.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace {

using qstest::fixture;
using qstest::read_file;
using qstest::run_shell;
using qstest::shell_quote;

// One party's status line: "0#..." or "-1#...".
std::string party(const std::vector<std::string> &args) {
    std::string command = shell_quote(QS_TWO_PHASE_TOOL);
    for (const auto &a : args) command += " " + shell_quote(a);
    std::string line = run_shell(command + " 2>/dev/null").out;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

std::string after_status(const std::string &line) { return line.substr(line.find('#') + 1); }

// The placeholder of a prepared file: a, b (its /ByteRange items 1 and 2).
void placeholder_of(const std::string &pdf, long &a, long &b) {
    std::FILE *f = std::fopen(pdf.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    long range[4];
    int object = 0;
    ASSERT_EQ(qpdf_get_byte_range(f, "", range, &object), 0);
    std::fclose(f);
    a = range[1];
    b = range[2];
}

// Changes one byte of the binary comment on the second line: a signed byte
// that leaves the document readable.
void change_signed_byte(const std::string &pdf) {
    std::string bytes = read_file(pdf);
    const std::size_t at = bytes.find('\n') + 2;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    qstest::write_file(pdf, bytes);
}

std::string verify_line(const std::string &pdf, const std::string &conf) {
    return qstest::run_cli({"verify", "-i", pdf, "-z", conf}).out;
}

enum class Text { AsSigned, FillsPlaceholder, OnePairMore };

struct Case {
    const char *name, *document, *extra;
    std::size_t digest_digits;
    Text text;
    bool changed_between;
    const char *end_line;  // the second phase's status line (its beginning)
    bool valid;            // the finished file verifies
};

TEST(TwoPhase, ThreeProcessesSignAndTheResultIsJudged) {
    const std::string advice =
        "-1#Byte range underestimated... add extrarange=100 to config file (add to existing value).";
    const Case cases[] = {
        {"sha256", "one-page.pdf", "", 64, Text::AsSigned, false, "0#Document signed", true},
        {"sha1", "ten-pages.pdf", "hashalgo=SHA1\n", 40, Text::AsSigned, false, "0#Document signed", true},
        {"sha512 with object streams", "objstm.pdf", "hashalgo=SHA512\n", 128, Text::AsSigned, false,
         "0#Document signed", true},
        // The placeholder is sized without the timestamp allowance.
        {"timestamp setting has no effect", "classic.pdf", "tsaurl=http://127.0.0.1:9/tsr\n", 64, Text::AsSigned,
         false, "0#Document signed", true},
        {"text fills the placeholder exactly", "one-page.pdf", "", 64, Text::FillsPlaceholder, false,
         "0#Document signed", true},
        {"one pair more than the placeholder", "one-page.pdf", "", 64, Text::OnePairMore, false, advice.c_str(),
         false},
        {"prepared file changed between the phases", "one-page.pdf", "", 64, Text::AsSigned, true,
         "0#Document signed", false},
    };
    qstest::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string conf = qstest::write_signing_config(dir, "signer.p12", c.extra);
        const std::string input = fixture(c.document), prepared = dir.file("prepared.pdf");
        const std::string before = read_file(input);

        const std::string started = party({"start", input, prepared, conf});
        ASSERT_EQ(started.rfind("0#", 0), 0u) << started;
        const std::string digest = after_status(started);
        EXPECT_EQ(digest.size(), c.digest_digits);
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
        long a = 0, b = 0;
        placeholder_of(prepared, a, b);
        EXPECT_EQ(b - a - 2, 5000);
        EXPECT_EQ(read_file(input), before);

        const std::string hashed = party({"hash", conf, digest});
        ASSERT_EQ(hashed.rfind("0#", 0), 0u) << hashed;
        std::string signature = after_status(hashed);
        if (c.text == Text::FillsPlaceholder) signature.resize(static_cast<std::size_t>(b - a - 2), '0');
        if (c.text == Text::OnePairMore) signature.resize(static_cast<std::size_t>(b - a), '0');
        if (c.changed_between) change_signed_byte(prepared);

        const std::string ended = party({"end", prepared, signature});
        EXPECT_EQ(ended.rfind(c.end_line, 0), 0u) << ended;
        if (c.text == Text::OnePairMore) {
            EXPECT_FALSE(qstest::file_exists(prepared));
            continue;
        }
        const auto sig = run_shell("pdfsig " + shell_quote(prepared) + " 2>&1").out;
        EXPECT_NE(sig.find("Total document signed"), std::string::npos) << sig;
        EXPECT_EQ(sig.find("Signature is Valid") != std::string::npos, c.valid) << sig;
        EXPECT_EQ(run_shell("qpdf --check " + shell_quote(prepared) + " >/dev/null 2>&1").status, 0);
        const std::string verified = verify_line(prepared, conf);
        EXPECT_EQ(verified.rfind(c.valid ? "0#Document signature verified [Signer: Test Signer]" : "-1#", 0), 0u)
            << verified;
        // The text shorter than the placeholder leaves the digits after it "0".
        const std::string written = read_file(prepared).substr(static_cast<std::size_t>(a + 1),
                                                               static_cast<std::size_t>(b - a - 2));
        EXPECT_EQ(written.compare(0, signature.size(), signature), 0);
        EXPECT_EQ(written.find_first_not_of('0', signature.size()), std::string::npos);
    }
}

TEST(TwoPhase, RefusalsSayWhyAndLoseNothing) {
    qstest::TempDir dir;
    const std::string conf = qstest::write_signing_config(dir);
    const std::string original = read_file(fixture("one-page.pdf"));
    const std::string unsigned_doc = dir.file("unsigned.pdf"), signed_doc = dir.file("signed.pdf");
    qstest::write_file(unsigned_doc, original);
    ASSERT_EQ(qstest::run_cli({"-i", unsigned_doc, "-o", signed_doc, "-z", conf}).out.rfind("0#Document signed", 0), 0u);
    const std::string signed_bytes = read_file(signed_doc);
    const std::string prepared = dir.file("prepared.pdf");

    struct Refusal {
        const char *name;
        std::vector<std::string> args;
        std::string line;
        std::string kept;  // a file that must be unchanged afterwards
        std::string gone;  // a file that must not exist afterwards
    } cases[] = {
        {"first phase over its own input", {"start", unsigned_doc, dir.path() + "/./unsigned.pdf", conf},
         "-1#Output file is the input file itself", unsigned_doc, ""},
        {"first phase without a configuration", {"start", unsigned_doc, prepared, dir.file("none.conf")},
         "-1#Error opening file " + dir.file("none.conf") + "... Please provide a config file!", unsigned_doc,
         prepared},
        {"first phase on a missing input", {"start", dir.file("missing.pdf"), prepared, conf},
         "-1#No such file or directory [File: " + dir.file("missing.pdf") + "]", "", prepared},
        {"second phase on a file with no signature field", {"end", unsigned_doc, "3082"},
         "-1#No signature found!", unsigned_doc, ""},
        {"second phase on a signed file", {"end", signed_doc, "3082"},
         "-1#The signature placeholder of this file is filled already", signed_doc, ""},
        {"second phase with a text that is no hex", {"end", prepared, "30>> endobj"},
         "-1#The signature text is not hexadecimal digits in whole pairs.", "", prepared},
        {"second phase with an empty text", {"end", prepared, ""}, "-1#The signature text is empty.", "",
         prepared},
        {"second phase on a missing file", {"end", dir.file("missing.pdf"), "3082"},
         "-1#No such file or directory [File: " + dir.file("missing.pdf") + "]", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.args[0] == "end" && c.args[1] == prepared) {
            ASSERT_EQ(party({"start", unsigned_doc, prepared, conf}).rfind("0#", 0), 0u);
        }
        const std::string line = party(c.args);
        EXPECT_EQ(line.rfind(c.line, 0), 0u) << line;
        if (!c.kept.empty()) {
            EXPECT_EQ(read_file(c.kept), c.kept == signed_doc ? signed_bytes : original);
        }
        if (!c.gone.empty()) {
            EXPECT_FALSE(qstest::file_exists(c.gone));
        }
    }
}

// The prepare-only mode that signing with encryption builds on: the file is
// prepared for a detached signature, with the timestamp allowance when asked,
// and no digest is computed.
TEST(TwoPhase, PrepareOnlyWritesTheFileAndNoDigest) {
    qstest::TempDir dir;
    SigningConfig *config = nullptr;
    ASSERT_EQ(read_config(qstest::write_signing_config(dir, "signer.p12", "subfilter=adbe.pkcs7.sha1\n").c_str(),
                          &config),
              0);
    std::FILE *in = std::fopen(fixture("one-page.pdf").c_str(), "rb");
    std::FILE *out = std::fopen(dir.file("prepared.pdf").c_str(), "w+b");
    ASSERT_TRUE(in && out);
    EXPECT_EQ(sign_start_io(in, out, "", "", 0, "", "", "", "", "Test Signer", "01", 1, 0, nullptr, 1, config), 0);
    std::fclose(in);
    std::fclose(out);
    free_config(config);
    const std::string prepared = read_file(dir.file("prepared.pdf"));
    EXPECT_NE(prepared.find("/SubFilter /adbe.pkcs7.detached"), std::string::npos);
    long a = 0, b = 0;
    placeholder_of(dir.file("prepared.pdf"), a, b);
    EXPECT_EQ(b - a - 2, 15000);
    EXPECT_EQ(prepared.substr(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a)),
              "<" + std::string(15000, '0') + ">");
}

}  // namespace
