// The steps signing with encryption is built from: whole-document rewrites
// through qpdf, the private scratch file, and the /ByteRange written again in
// the room reserved for it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include <quillseal/quillseal.h>

#include "core/hidden_placeholder.h"
#include "core/output_path.h"
#include "support/support.h"

namespace {

using qstest::fixture;
using qstest::run_shell;
using qstest::shell_quote;

std::string fetch() {
    char text[256];
    handle_error_message(text, 0);
    return text;
}

TEST(ByteRangeText, NeverLongerThanTheTextItReplaces) {
    const std::string reserved = "/ByteRange [ 0 99999999999 99999999999 99999999999 ]";
    struct Case {
        long a, b, c;
        std::size_t width;
        std::string text;  // empty: does not fit
    } cases[] = {
        {2559, 7561, 1668, reserved.size(), "/ByteRange [ 0 2559 7561 1668" + std::string(22, ' ') + "]"},
        {1, 2, 3, 21, "/ByteRange [ 0 1 2 3]"},
        {1, 2, 3, 20, ""},
        // A 10 GB document, and offsets up to the reserved width.
        {10737418240L, 10737428242L, 123, reserved.size(),
         "/ByteRange [ 0 10737418240 10737428242 123" + std::string(9, ' ') + "]"},
        {99999999999L, 99999999999L, 999999999999L, reserved.size(),
         "/ByteRange [ 0 99999999999 99999999999 999999999999]"},
        {100000000000L, 100000000000L, 100000000000L, reserved.size(), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const std::string text = qs::byte_range_text(c.a, c.b, c.c, c.width);
        EXPECT_EQ(text, c.text);
        if (!text.empty()) {
            EXPECT_EQ(text.size(), c.width);
        }
    }
}

TEST(ScratchFile, PrivateNewAndGoneWithoutTouchingOtherFiles) {
    qstest::TempDir dir;
    const std::string output = dir.file("out.pdf");
    qstest::write_file(output, "earlier output\n");
    qstest::write_file(output + ".tmp", "a user's file\n");
    const mode_t saved = umask(0);
    std::string path;
    {
        qs::PendingOutput scratch(output.c_str(), qs::PendingOutput::Use::Scratch);
        ASSERT_NE(scratch.get(), nullptr);
        path = scratch.temporary_path();
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        // Its name holds no ".pdf": a directory run never takes a leftover for a document.
        EXPECT_EQ(path.find(".pdf"), std::string::npos) << path;
        EXPECT_EQ(path.rfind(dir.path() + "/", 0), 0u) << path;
        EXPECT_EQ(std::fputs("unencrypted", scratch.get()) >= 0, true);
    }
    umask(saved);
    EXPECT_FALSE(qstest::file_exists(path));
    EXPECT_EQ(qstest::read_file(output), "earlier output\n");
    EXPECT_EQ(qstest::read_file(output + ".tmp"), "a user's file\n");
}

struct Files {
    std::FILE *in = nullptr, *out = nullptr;
    Files(const std::string &input, const std::string &output)
        : in(std::fopen(input.c_str(), "rb")), out(std::fopen(output.c_str(), "w+b")) {}
    ~Files() {
        if (in) std::fclose(in);
        if (out) std::fclose(out);
    }
};

TEST(DocumentRewrite, EncryptAndProcessReportTheirFailures) {
    qstest::TempDir dir;
    const std::string encrypted = dir.file("encrypted.pdf"), garbage = dir.file("garbage.pdf");
    ASSERT_EQ(run_shell("qpdf --encrypt user owner 256 -- " + shell_quote(fixture("one-page.pdf")) + " " +
                        shell_quote(encrypted))
                  .status,
              0);
    qstest::write_file(garbage, "not a document\n");
    const auto encrypt = [](std::FILE *in, std::FILE *out, const char *user) {
        return qpdf_encrypt(in, out, "", user, 0, 0, 0, 0, 0);
    };
    const auto process = [](std::FILE *in, std::FILE *out, const char *password) {
        return qpdf_process(in, password, out);
    };
    struct Case {
        const char *name;
        std::function<int(std::FILE *, std::FILE *, const char *)> call;
        std::string input;
        const char *password;
        std::string message;  // empty: succeeds
        std::string check;    // a shell check of the output when it succeeds
    } cases[] = {
        {"rewrite without object streams", process, fixture("objstm.pdf"), "", "",
         "qpdf --check %OUT% && ! grep -a -q /ObjStm %OUT%"},
        {"rewrite of an encrypted input with its password", process, encrypted, "user", "",
         "qpdf --check --password=user %OUT%"},
        {"rewrite with a wrong password", process, encrypted, "wrong", "The document cannot be rewritten: invalid password", ""},
        {"encryption of a damaged input", encrypt, garbage, "user", "The document cannot be encrypted: ", ""},
        // An empty owner password becomes one nobody knows: no empty password opens the copy.
        {"encryption with no owner password", encrypt, fixture("one-page.pdf"), "user", "",
         "qpdf --check --password=user %OUT% && ! qpdf --check %OUT%"},
        {"encryption of an unencrypted input ignores the password", encrypt, fixture("one-page.pdf"), "", "",
         "qpdf --show-encryption %OUT% | grep -q 'R = 6'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fetch();
        const std::string output = dir.file("out.pdf");
        {
            Files files(c.input, output);
            ASSERT_TRUE(files.in && files.out);
            EXPECT_EQ(c.call(files.in, files.out, c.password), c.message.empty() ? 0 : -1);
        }
        const std::string message = fetch();
        if (c.message.empty()) {
            std::string check = c.check;
            for (std::size_t at; (at = check.find("%OUT%")) != std::string::npos;) check.replace(at, 5, shell_quote(output));
            EXPECT_EQ(run_shell("(" + check + ") >/dev/null 2>&1").status, 0) << check;
        } else {
            EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        }
    }
}

}  // namespace
