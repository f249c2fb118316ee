// The routes of a run through the real program: configuration, single file,
// directory, the Java route, stored passwords and failure lines.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using qstest::run_cli;
using qstest::TempDir;

std::string copy_fixture(const TempDir &dir, const std::string &fixture, const std::string &name) {
    const std::string path = dir.file(name);
    qstest::write_file(path, qstest::read_file(qstest::fixture(fixture)));
    return path;
}

TEST(ConfigurationRoute, MissingConfigurationEndsWithTheNoConfigurationLine) {
    TempDir dir;
    const auto r = run_cli({"-i", dir.file("a.pdf"), "-z", dir.file("none.conf")});
    EXPECT_EQ(r.out, "-1#No configuration file found or provided...\n");
    EXPECT_EQ(r.status, 255);
}

TEST(ConfigurationRoute, VerifyGoesOnWithoutAConfigurationAndAddltvWithoutAKeyStore) {
    TempDir dir;
    const std::string missing = dir.file("missing.pdf");
    const std::string conf_without_store = dir.file("ltv.conf");
    qstest::write_file(conf_without_store, "cachedir=" + dir.path() + "\n");
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"verify", "-i", missing, "-z", dir.file("none.conf")}, "-1#Document signature verification fails ["},
        // A mistyped -z is named, never quietly replaced by the defaults.
        {{"addltv", "-i", missing, "-z", dir.file("none.conf")}, "-1#No configuration file found or provided...\n"},
        // Readable, but without the key store that signing needs.
        {{"addltv", "-i", missing, "-z", conf_without_store}, "-1#No such file or directory [File: " + missing + "]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        const auto r = run_cli(c.args);
        EXPECT_EQ(r.out.rfind(c.line, 0), 0u) << r.out;
        EXPECT_EQ(r.status, 255);
    }
}

TEST(EncryptPassword, PrintsTheStoredFormThatDecryptsBack) {
    const auto r = run_cli({"-e", "s3cret pass"});
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(r.out.rfind("Encrypted password: ", 0), 0u) << r.out;
    std::string stored = r.out.substr(20);
    ASSERT_FALSE(stored.empty());
    stored.pop_back();  // newline
    char plain[256];
    decrypt_password(stored.c_str(), plain);
    EXPECT_STREQ(plain, "s3cret pass");
}

TEST(SingleFileRoute, SignsIntoTheDerivedOutputName) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string in = copy_fixture(dir, "one-page.pdf", "report.pdf.bak");
    const auto r2 = run_cli({"-z", conf, "-i", in});
    const std::string out = dir.file("report.pdf-signed.pdf");
    EXPECT_EQ(r2.out, "0#Document signed: input[" + in + "] output[" + out + "]\n");
    EXPECT_EQ(r2.status, 0);
    EXPECT_TRUE(qstest::file_exists(out));
}

TEST(SingleFileRoute, OptionOrderIsFreeAndTheLastValueWins) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string in = copy_fixture(dir, "one-page.pdf", "doc.pdf");
    const std::string out = dir.file("second.pdf");
    const auto r = run_cli({"-o", dir.file("first.pdf"), "-z", conf, "-i", in, "-o", out});
    EXPECT_EQ(r.out, "0#Document signed: input[" + in + "] output[" + out + "]\n");
    EXPECT_FALSE(qstest::file_exists(dir.file("first.pdf")));
}

TEST(SingleFileRoute, FailedSigningPrintsTheMessageAndRemovesTheOutput) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string out = dir.file("out.pdf");
    const auto r = run_cli({"-z", conf, "-i", dir.file("missing.pdf"), "-o", out});
    // A failed open is reported as "%s [File: %s]", not in the errno form.
    EXPECT_EQ(r.out, "-1#No such file or directory [File: " + dir.file("missing.pdf") + "]\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_FALSE(qstest::file_exists(out));
}

TEST(SingleFileRoute, OutputOverTheInputIsRefusedAndTheInputKept) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string in = copy_fixture(dir, "one-page.pdf", "doc.pdf");
    const std::string before = qstest::read_file(in);
    const auto r = run_cli({"-z", conf, "-i", in, "-o", dir.path() + "//doc.pdf"});
    EXPECT_EQ(r.out.rfind("-1#", 0), 0u) << r.out;
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(qstest::read_file(in), before);
}

TEST(DirectoryRoute, NeedsAnExistingOutputDirectory) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    mkdir(dir.file("in").c_str(), 0755);
    auto r = run_cli({"-z", conf, "-i", dir.file("in")});
    EXPECT_EQ(r.out, "-1#Please provide an output directory!\n");
    EXPECT_EQ(r.status, 0);
    r = run_cli({"-z", conf, "-i", dir.file("in"), "-o", dir.file("nowhere")});
    EXPECT_EQ(r.out, "-1#Please make sure output directory exists!\n");
    EXPECT_EQ(r.status, 0);
}

TEST(DirectoryRoute, SignsEveryPdfAndSkipsExistingOutputs) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    mkdir(dir.file("in").c_str(), 0755);
    mkdir(dir.file("out").c_str(), 0755);
    copy_fixture(dir, "one-page.pdf", "in/a.pdf");
    copy_fixture(dir, "ten-pages.pdf", "in/b.PDF");
    qstest::write_file(dir.file("in/notes.txt"), "not a document");
    qstest::write_file(dir.file("out/b.PDF"), "already here");

    const auto r = run_cli({"-z", conf, "-i", dir.file("in") + "/", "-o", dir.file("out")});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("0#Document signed: input[" + dir.file("in/a.pdf") + "] output[" + dir.file("out/a.pdf") + "]\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("0#Output document already exists: input[" + dir.file("in/b.PDF") + "] output[" +
                         dir.file("out/b.PDF") + "]\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("notes.txt"), std::string::npos);
    EXPECT_EQ(qstest::read_file(dir.file("out/b.PDF")), "already here");
    EXPECT_TRUE(qstest::file_exists(dir.file("out/a.pdf")));
}

TEST(DirectoryRoute, StatusIsTheLastDocumentsResult) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    mkdir(dir.file("in").c_str(), 0755);
    mkdir(dir.file("out").c_str(), 0755);
    qstest::write_file(dir.file("in/broken.pdf"), "plain text, not a PDF");
    const auto r = run_cli({"-z", conf, "-i", dir.file("in"), "-o", dir.file("out")});
    EXPECT_EQ(r.out.rfind("-1#", 0), 0u) << r.out;
    EXPECT_EQ(r.status, 255);
    EXPECT_FALSE(qstest::file_exists(dir.file("out/broken.pdf")));
}

// -i - takes the documents from a list on standard input, one path a line,
// with and without worker processes: what cannot be signed gets its line and
// the run goes on, and the run ends with 255.
TEST(ListRoute, SignsTheListedFilesAndRefusesWhatCannotBeSigned) {
    for (const char *workers : {"", "2"}) {
        SCOPED_TRACE(std::string("-j ") + workers);
        TempDir dir;
        const std::string conf = clitest::write_config(dir);
        for (const char *folder : {"in", "in/sub", "out"}) mkdir(dir.file(folder).c_str(), 0755);
        const std::string good = copy_fixture(dir, "one-page.pdf", "in/a b.pdf");
        const std::string same = copy_fixture(dir, "one-page.pdf", "in/c.pdf");
        const std::string second = copy_fixture(dir, "ten-pages.pdf", "in/sub/c.pdf");
        const std::string done = copy_fixture(dir, "one-page.pdf", "in/done.pdf");
        qstest::write_file(dir.file("out/done.pdf"), "already here");
        qstest::write_file(dir.file("in/broken.pdf"), "plain text, not a PDF");
        qstest::write_file(dir.file("in/notes.txt"), "not a document");
        const struct {
            std::string line;
            std::string status;  // the start of its status line; empty: none
        } listed[] = {
            {good, "0#Document signed: input[" + good + "] output[" + dir.file("out/a b.pdf") + "]"},
            {"", ""},
            {same, "0#Document signed: input[" + same + "] output[" + dir.file("out/c.pdf") + "]"},
            {second, "-1#An earlier listed file has the same name, and both would be signed into " +
                         dir.file("out/c.pdf") + "; this one is left unsigned [File: " + second + "]"},
            {done, "0#Output document already exists: input[" + done + "]"},
            {dir.file("in/notes.txt"), "-1#The file name holds neither \".pdf\" nor \".PDF\""},
            {dir.file("in/missing.pdf"), "-1#No such file or directory [File: " + dir.file("in/missing.pdf") + "]"},
            {dir.file("in/broken.pdf"), "-1#Document may be corrupted"},
            {std::string("in/x\0.pdf", 9), "-1#The listed path holds a NUL byte, so it names no file [File: in/x\\0.pdf]"},
            {std::string(5000, 'a') + ".pdf", "-1#The listed path is longer than 4095 bytes"},
        };
        std::string list;
        for (const auto &l : listed) list += l.line + "\n";
        qstest::write_file(dir.file("list.txt"), list);

        std::vector<std::string> args = {"-z", conf, "-i", "-", "-o", dir.file("out")};
        if (*workers) args.insert(args.end(), {"-j", workers});
        const auto r = clitest::run_bounded(dir, args, dir.file("list.txt"));
        EXPECT_EQ(r.status, 255) << r.out << r.err;
        const std::vector<std::string> lines = clitest::output_lines(r.out);
        EXPECT_EQ(lines.size(), 9u) << r.out;  // one a listed path, none for the empty line
        for (const auto &l : listed) {
            if (l.status.empty()) continue;
            int found = 0;
            for (const std::string &line : lines)
                if (line.rfind(l.status, 0) == 0) ++found;
            EXPECT_EQ(found, 1) << l.status << "\n" << r.out;
        }
        EXPECT_EQ(clitest::check_signed_output(dir.file("out/a b.pdf")), "");
        const std::string first_c = qstest::read_file(same);  // the output of c.pdf is the first one's
        EXPECT_EQ(qstest::read_file(dir.file("out/c.pdf")).compare(0, first_c.size(), first_c), 0);
        EXPECT_EQ(qstest::read_file(dir.file("out/done.pdf")), "already here");
        EXPECT_EQ(qstest::run_shell("ls -A " + qstest::shell_quote(dir.file("out")) + " | wc -l").out, "3\n");
    }
}

// Whatever stops a list run before its documents ends it with 255, so that
// whoever hands out batches sees the batch fail; addltv takes the route too.
TEST(ListRoute, ARunThatCannotStartEndsWith255) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    mkdir(dir.file("out").c_str(), 0755);
    qstest::write_file(dir.file("list.txt"), dir.file("missing.pdf") + "\n");
    qstest::write_file(dir.file("empty.txt"), "\n\n");
    const struct {
        std::vector<std::string> args;
        std::string list, out;
        int status;
    } cases[] = {
        {{"verify", "-i", "-"}, "list.txt", "-1#Verification takes one PDF file, not a list of files.\n", 255},
        {{"-z", conf, "-i", "-"}, "list.txt", "-1#Please provide an output directory!\n", 255},
        {{"-z", conf, "-i", "-", "-o", dir.file("nowhere")}, "list.txt", "-1#Please make sure output directory exists!\n",
         255},
        {{"addltv", "-z", conf, "-i", "-", "-o", dir.file("out")}, "list.txt",
         "-1#No such file or directory [File: " + dir.file("missing.pdf") + "]\n", 255},
        {{"-z", conf, "-i", "-", "-o", dir.file("out"), "-j", "2"}, "empty.txt", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.list);
        const auto r = clitest::run_bounded(dir, c.args, dir.file(c.list));
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status) << r.err;
    }
}

class JavaRoute : public ::testing::Test {
protected:
    std::string run(const std::vector<std::string> &args, int *status) {
        std::string cmd = java.prefix() + qstest::shell_quote(QS_CLI_PATH);
        for (const auto &a : args) cmd += " " + qstest::shell_quote(a);
        const auto r = qstest::run_shell("cd " + qstest::shell_quote(dir.path()) + " && " + cmd + " 2>/dev/null");
        *status = r.status;
        return qstest::read_file(java.log());
    }
    TempDir dir;
    clitest::FakeJava java{dir};
    std::string conf = clitest::write_config(dir, "signer.p12", "cryptolib=bouncycastle\n");
};

TEST_F(JavaRoute, HandsEveryArgumentOverAsOneWordAndPassesItsStatusOn) {
    int status = 0;
    const std::string args = run({"-i", "doc.pdf", "-r", "two words; touch pwned", "-z", conf}, &status);
    EXPECT_EQ(args, "-jar\nlib/QuillsealCLI.jar\n-i\ndoc.pdf\n-r\ntwo words; touch pwned\n-z\n" + conf + "\n");
    EXPECT_FALSE(qstest::file_exists(dir.file("pwned")));
    EXPECT_EQ(status, 3);
}

TEST_F(JavaRoute, QuotesAndDollarSignsReachTheProgramUnchanged) {
    int status = 0;
    const std::string args = run({"-i", "it's $HOME `id`.pdf", "-z", conf}, &status);
    EXPECT_EQ(args, "-jar\nlib/QuillsealCLI.jar\n-i\nit's $HOME `id`.pdf\n-z\n" + conf + "\n");
}

}  // namespace
