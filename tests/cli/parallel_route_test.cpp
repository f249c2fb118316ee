// The directory route with -j worker processes, and a folder spread with GNU
// parallel the way the README shows, through the real program.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using qstest::TempDir;

std::vector<std::string> entries(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (const dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// A folder of documents (copies of the one-page fixture) and an empty output folder.
struct Folders {
    TempDir dir;
    std::string in = dir.file("in"), out = dir.file("out"), conf = clitest::write_config(dir);
    explicit Folders(int documents) {
        mkdir(in.c_str(), 0755);
        mkdir(out.c_str(), 0755);
        const std::string page = qstest::read_file(qstest::fixture("one-page.pdf"));
        for (int i = 0; i < documents; ++i) qstest::write_file(in + "/doc" + std::to_string(i) + ".pdf", page);
    }
};

// The lines of a run, each whole: a signed line, an "already exists" line or
// a failure line, and nothing else (two lines mixed fail every form).
struct Lines {
    std::map<std::string, int> signed_inputs, existing_inputs;
    std::vector<std::string> failures, malformed;
};

Lines read_lines(const std::string &out) {
    static const std::regex done(R"(0#Document signed: input\[([^\]\[#]*)\] output\[([^\]\[#]*)\])");
    static const std::regex exists(R"(0#Output document already exists: input\[([^\]\[#]*)\] output\[([^\]\[#]*)\])");
    Lines lines;
    std::smatch m;
    for (const std::string &line : clitest::output_lines(out)) {
        if (std::regex_match(line, m, done))
            ++lines.signed_inputs[m[1]];
        else if (std::regex_match(line, m, exists))
            ++lines.existing_inputs[m[1]];
        else if (line.rfind("-1#", 0) == 0 && line.find("0#", 3) == std::string::npos)
            lines.failures.push_back(line);
        else
            lines.malformed.push_back(line);
    }
    return lines;
}

TEST(ParallelRoute, EveryDocumentOnceWhateverTheNumberOfWorkers) {
    for (const char *workers : {"1", "3", "0"}) {
        SCOPED_TRACE(std::string("-j ") + workers);
        Folders f(10);
        qstest::write_file(f.in + "/broken.pdf", "plain text, not a PDF");
        qstest::write_file(f.in + "/done.pdf", qstest::read_file(qstest::fixture("one-page.pdf")));
        qstest::write_file(f.out + "/done.pdf", "already here");
        qstest::write_file(f.in + "/notes.txt", "not a document");

        const auto r = clitest::run_bounded(f.dir, {"-z", f.conf, "-i", f.in, "-o", f.out, "-j", workers});
        EXPECT_EQ(r.status, 255) << r.out << r.err;  // broken.pdf failed
        const Lines lines = read_lines(r.out);
        EXPECT_TRUE(lines.malformed.empty()) << r.out;
        ASSERT_EQ(lines.signed_inputs.size(), 10u) << r.out;
        for (const auto &[input, count] : lines.signed_inputs) EXPECT_EQ(count, 1) << input;
        EXPECT_EQ(lines.existing_inputs, (std::map<std::string, int>{{f.in + "/done.pdf", 1}})) << r.out;
        EXPECT_EQ(lines.failures.size(), 1u) << r.out;

        EXPECT_EQ(entries(f.out).size(), 11u);  // ten signed, done.pdf as it was, nothing else
        EXPECT_EQ(qstest::read_file(f.out + "/done.pdf"), "already here");
        EXPECT_FALSE(qstest::file_exists(f.out + "/broken.pdf"));
        EXPECT_EQ(clitest::check_signed_output(f.out + "/doc7.pdf"), "");
    }
}

TEST(ParallelRoute, AllDocumentsGoodEndsWithStatusZero) {
    Folders f(4);
    const auto r = clitest::run_bounded(f.dir, {"-z", f.conf, "-i", f.in, "-o", f.out, "-j", "2"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(read_lines(r.out).signed_inputs.size(), 4u) << r.out;
}

// A worker killed in the middle of the run costs only its own document: that
// document gets a failure line and no output, the others are signed by the
// remaining and replacement workers, and no partial file or folder is left.
TEST(ParallelRoute, AWorkerThatDiesCostsOnlyItsDocument) {
    Folders f(80);
    const std::string run =
        "cd " + qstest::shell_quote(f.dir.path()) + " && { " + qstest::shell_quote(QS_CLI_PATH) + " -z " +
        qstest::shell_quote(f.conf) + " -i in -o out -j 2 > lines.txt 2>/dev/null & pid=$!; w=; " +
        "for i in $(seq 3000); do w=$(pgrep -P $pid | head -n 1); [ -n \"$w\" ] && break; done; " +
        "kill -9 $w; wait $pid; echo $?; }";
    const auto r = qstest::run_shell(run);
    const std::string out = qstest::read_file(f.dir.file("lines.txt"));
    EXPECT_EQ(r.out, "255\n") << out;
    const Lines lines = read_lines(out);
    EXPECT_TRUE(lines.malformed.empty()) << out;
    ASSERT_EQ(lines.failures.size(), 1u) << out;
    static const std::regex lost(R"(-1#The worker process ended before finishing this document )"
                                 R"(\(killed by signal 9, Killed\) \[File: in/(doc\d+\.pdf)\])");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines.failures[0], m, lost)) << lines.failures[0];
    EXPECT_EQ(lines.signed_inputs.size(), 79u) << out;
    EXPECT_EQ(lines.signed_inputs.count("in/" + m[1].str()), 0u);
    std::vector<std::string> left = entries(f.out);
    EXPECT_EQ(left.size(), 79u);  // no partial file or worker folder among them
    for (const std::string &name : left) EXPECT_EQ(name.find("quillseal-partial"), std::string::npos) << name;
    EXPECT_FALSE(qstest::file_exists(f.out + "/" + m[1].str()));
}

// With workers the lines come in the order documents finish: each failure
// line names its input, with and without -j, and a message that names the
// input already does not name it twice.
TEST(ParallelRoute, FailureLinesNameTheirDocument) {
    const std::string no_eof = "-1#Document may be corrupted: last line of PDF is not %%%%EOF! [File: in/";
    const std::vector<std::string> expected = {
        no_eof + "empty.pdf]",
        no_eof + "text.pdf]",
        no_eof + "truncated.pdf]",
        "-1#Document may be corrupted: startxref line not found! [File: in/junk.pdf]",
        "-1#Not a regular file [File: in/folder.pdf]",
    };  // in sorted order
    const std::string page = qstest::read_file(qstest::fixture("one-page.pdf"));
    for (const std::vector<std::string> &workers : {std::vector<std::string>{}, {"-j", "1"}, {"-j", "3"}}) {
        SCOPED_TRACE(workers.empty() ? "without -j" : "-j " + workers[1]);
        Folders f(2);
        qstest::write_file(f.in + "/text.pdf", "plain text, not a PDF");
        qstest::write_file(f.in + "/empty.pdf", "");
        qstest::write_file(f.in + "/truncated.pdf", page.substr(0, page.size() - 7));
        qstest::write_file(f.in + "/junk.pdf", "%PDF-1.4\nnothing of a document here\n%%EOF\n");
        mkdir((f.in + "/folder.pdf").c_str(), 0755);
        std::vector<std::string> args = {"-z", f.conf, "-i", "in", "-o", "out"};
        args.insert(args.end(), workers.begin(), workers.end());
        const auto r = qstest::run_cli(args, f.dir.path());
        Lines lines = read_lines(r.out);
        EXPECT_TRUE(lines.malformed.empty()) << r.out;
        EXPECT_EQ(lines.signed_inputs.size(), 2u) << r.out;
        std::sort(lines.failures.begin(), lines.failures.end());
        EXPECT_EQ(lines.failures, expected) << r.out;
    }
    // A single file's line stays as it was.
    TempDir dir;
    qstest::write_file(dir.file("text.pdf"), "plain text, not a PDF");
    const std::string conf = clitest::write_config(dir);
    EXPECT_EQ(qstest::run_cli({"-z", conf, "-i", dir.file("text.pdf"), "-o", dir.file("o.pdf")}).out,
              "-1#Document may be corrupted: last line of PDF is not %%%%EOF!\n");
}

TEST(ParallelRoute, WorkerCountsOutsideTheRangeAreRefused) {
    for (const char *value : {"x", "-1", "1025", "", "2 "}) {
        const auto r = qstest::run_cli({"-i", "in", "-o", "out", "-j", value});
        EXPECT_EQ(r.out, "-1#The value of -j is a number of worker processes from 0 (one per processor) to 1024.\n")
            << value;
        EXPECT_EQ(r.status, 255);
    }
}

// The README's two ways to spread a folder over several machines, tried with
// local workers only: GNU parallel hands out batches of the list, and each
// batch is one quillseal run with -j 0, either on storage that every machine
// shares or carried to the machine and back by sign-batch.sh (":" is this
// machine). Each document is signed once; the batch with a broken document
// fails, and once that document is mended the run resumed signs it alone.
TEST(GnuParallel, SpreadsAFolderInBatchesTheWayTheReadmeShows) {
    const struct {
        const char *name;
        std::string job;
    } recipes[] = {
        {"shared storage", "--sshlogin 2/: 'quillseal -i - -o signed -z machine.conf -j 0'"},
        {"carried over ssh", "-j 2 " + qstest::shell_quote(std::string(QS_SOURCE_DIR) + "/scripts/sign-batch.sh") +
                                 " signed : -- -z \"$PWD/machine.conf\""},
    };
    const std::string page = qstest::read_file(qstest::fixture("one-page.pdf"));
    for (const auto &recipe : recipes) {
        SCOPED_TRACE(recipe.name);
        Folders f(47);
        for (const char *name : {"with blank.pdf", "it's $x.pdf"}) qstest::write_file(f.in + "/" + name, page);
        qstest::write_file(f.in + "/broken.pdf", "plain text, not a PDF");
        mkdir(f.dir.file("signed").c_str(), 0755);
        mkdir(f.dir.file("cache").c_str(), 0755);
        qstest::write_signing_config(f.dir, "signer.p12", "cachedir=" + f.dir.file("cache") + "\n", "machine.conf");
        mkdir(f.dir.file("bin").c_str(), 0755);
        ASSERT_EQ(symlink(QS_CLI_PATH, f.dir.file("bin/quillseal").c_str()), 0);
        const std::string run = "cd " + qstest::shell_quote(f.dir.path()) + " && export PATH=\"$PWD/bin:$PATH\" HOME=\"$PWD\" && " +
                                "find in -name '*.pdf' | sort | parallel --will-cite --pipe -N 20 --joblog fleet.log ";

        const auto first = qstest::run_shell(run + recipe.job + " 2>/dev/null");
        EXPECT_EQ(first.status, 1) << first.out;  // the batch with broken.pdf
        Lines lines = read_lines(first.out);
        EXPECT_TRUE(lines.malformed.empty()) << first.out;
        EXPECT_EQ(lines.signed_inputs.size(), 49u) << first.out;
        for (const auto &[input, count] : lines.signed_inputs) EXPECT_EQ(count, 1) << input;
        EXPECT_EQ(lines.failures.size(), 1u) << first.out;
        EXPECT_EQ(entries(f.dir.file("signed")).size(), 49u);  // no partial file or folder among them
        for (const std::string &name : entries(f.dir.file("signed"))) {  // whole: the input, then a signature update
            const std::string out = qstest::read_file(f.dir.file("signed/" + name));
            EXPECT_TRUE(out.size() > page.size() && out.compare(0, page.size(), page) == 0 &&
                        out.find("/ByteRange [ 0 ", page.size()) != std::string::npos &&
                        out.compare(out.size() - 6, 6, "%%EOF\n") == 0)
                << name;
        }
        for (const char *name : {"with blank.pdf", "it's $x.pdf"})
            EXPECT_EQ(clitest::check_signed_output(f.dir.file(std::string("signed/") + name)), "") << name;

        qstest::write_file(f.in + "/broken.pdf", page);
        const auto resumed = qstest::run_shell(run + "--resume-failed " + recipe.job + " 2>/dev/null");
        EXPECT_EQ(resumed.status, 0) << resumed.out;
        lines = read_lines(resumed.out);
        EXPECT_EQ(lines.signed_inputs, (std::map<std::string, int>{{"in/broken.pdf", 1}})) << resumed.out;
        EXPECT_TRUE(lines.failures.empty() && lines.malformed.empty()) << resumed.out;
        EXPECT_EQ(entries(f.dir.file("signed")).size(), 50u);
        EXPECT_EQ(clitest::check_signed_output(f.dir.file("signed/broken.pdf")), "");
    }
}

}  // namespace
