// An output appears whole or not at all: a run killed at any point, or one
// that runs out of room, leaves no partial document under the output's name,
// and a completed run replaces an earlier file the way a plain write would.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "support/support.h"

extern char **environ;

namespace {

using qstest::TempDir;

// The names in a folder, "." and ".." left out.
std::vector<std::string> entries(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (const dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

bool is_partial_name(const std::string &name) {
    static const std::regex pattern("quillseal-partial-[A-Za-z0-9]{12}");
    return std::regex_match(name, pattern);
}

// pdfsig alone: a valid signature over the total document shows the file is whole.
bool whole_signed_document(const std::string &path) {
    const auto r = qstest::run_shell("pdfsig " + qstest::shell_quote(path) + " 2>&1");
    return r.out.find("Signature is Valid") != std::string::npos &&
           r.out.find("Total document signed") != std::string::npos;
}

mode_t mode_of(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Starts the program with its standard output into a file.
pid_t start_cli(const std::vector<std::string> &args, const std::string &out_file) {
    std::vector<std::string> words{QS_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, QS_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST(KilledRun, LeavesNothingOrTheWholeDocumentAndTheNextRunSignsIt) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string in_dir = dir.file("in"), out_dir = dir.file("out");
    mkdir(in_dir.c_str(), 0755);
    mkdir(out_dir.c_str(), 0755);
    const std::string input = in_dir + "/big.pdf", output = out_dir + "/big.pdf";
    ASSERT_EQ(qstest::run_shell("bash " + qstest::shell_quote(std::string(QS_SOURCE_DIR) + "/bench/make_pdf.sh") +
                                " " + qstest::shell_quote(input) + " 104857600")
                  .status,
              0);
    const std::vector<std::string> run{"-z", conf, "-i", in_dir, "-o", out_dir};
    const std::string signed_line = "0#Document signed: input[" + input + "] output[" + output + "]\n";
    const std::string exists_line = "0#Output document already exists: input[" + input + "] output[" + output + "]\n";

    // One whole run tells how long a run takes; the kills are spread over it.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(qstest::run_cli(run).out, signed_line);
    const auto whole = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(qstest::run_cli(run).out, exists_line);  // a whole output is recognised as one
    std::remove(output.c_str());

    int killed_mid_run = 0, partial_left = 0;
    for (double at : {0.02, 0.1, 0.25, 0.4, 0.6, 0.8, 0.95}) {
        SCOPED_TRACE("killed at " + std::to_string(at) + " of a run");
        std::remove(output.c_str());
        const std::string lines = dir.file("killed.txt");
        const pid_t pid = start_cli(run, lines);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(whole * at));
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            if (WIFSIGNALED(status)) ++killed_mid_run;
        }

        // The output path holds nothing or the whole signed document; anything
        // else is a partial file with the recognisable name.
        const bool had_output = qstest::file_exists(output);
        if (had_output) {
            EXPECT_TRUE(whole_signed_document(output));
        }
        if (qstest::read_file(lines).find("0#Document signed") != std::string::npos) {
            EXPECT_TRUE(had_output);
        }
        std::vector<std::string> leftovers;
        for (const auto &name : entries(out_dir)) {
            if (name == "big.pdf") continue;
            EXPECT_TRUE(is_partial_name(name)) << name;
            leftovers.push_back(name);
        }
        partial_left += !leftovers.empty();

        // The next run signs what is missing and takes no leftover for a document.
        EXPECT_EQ(qstest::run_cli(run).out, had_output ? exists_line : signed_line);
        EXPECT_TRUE(whole_signed_document(output));
        for (const auto &name : leftovers) std::remove((out_dir + "/" + name).c_str());
    }
    EXPECT_GE(killed_mid_run, 3) << "too few kills landed while the run was working";
    EXPECT_GE(partial_left, 1) << "no kill landed while the output was being written";
    EXPECT_EQ(clitest::check_signed_output(output), "");
}

// A full disk is a small tmpfs mounted in a mount namespace of the run's own,
// which needs no privilege where user namespaces are allowed; elsewhere a
// file-size limit makes the writes fail the same way (EFBIG for ENOSPC).
bool tmpfs_available(const TempDir &dir) {
    const std::string mnt = dir.file("probe");
    mkdir(mnt.c_str(), 0755);
    return qstest::run_shell("unshare --user --map-root-user --mount sh -c 'mount -t tmpfs -o size=64k none " +
                             qstest::shell_quote(mnt) + "' >/dev/null 2>&1")
               .status == 0;
}

TEST(FullDisk, LeavesNeitherTheOutputNorAPartialFile) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string input = qstest::fixture("ten-pages.pdf");
    const long input_size = static_cast<long>(qstest::read_file(input).size());
    const bool tmpfs = tmpfs_available(dir);
    RecordProperty("full_disk", tmpfs ? "tmpfs" : "file-size limit");
    const std::string earlier = "an earlier output\n";

    struct Case {
        const char *what;
        long room;           // bytes the output may take
        bool earlier_output; // a file is at the output path before the run
    };
    const Case cases[] = {
        {"the copy of the input runs out of room", input_size / 2, false},
        {"the signature update runs out of room", input_size, false},
        {"an earlier output stays as it was", input_size, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string target = dir.file("target");
        mkdir(target.c_str(), 0755);
        const std::string output = target + "/out.pdf";
        std::string script = c.earlier_output ? "printf %s " + qstest::shell_quote(earlier) + " > " +
                                                    qstest::shell_quote(output) + " && "
                                              : "";
        script += qstest::shell_quote(QS_CLI_PATH) + " -z " + qstest::shell_quote(conf) + " -i " +
                  qstest::shell_quote(input) + " -o " + qstest::shell_quote(output) +
                  "; echo \"status=$?\"; ls -A " + qstest::shell_quote(target) +
                  (c.earlier_output ? "; cat " + qstest::shell_quote(output) : "");
        std::string command;
        if (tmpfs) {
            const long pages = (c.room + 4095) / 4096 + (c.earlier_output ? 1 : 0);
            command = "unshare --user --map-root-user --mount sh -c " +
                      qstest::shell_quote("mount -t tmpfs -o size=" + std::to_string(pages * 4096) + " none " +
                                          qstest::shell_quote(target) + " && " + script);
        } else {
            command = "sh -c " + qstest::shell_quote("trap '' XFSZ; ulimit -f " + std::to_string((c.room + 511) / 512) +
                                                     "; " + script);
        }
        const auto lines = clitest::output_lines(qstest::run_shell(command + " 2>/dev/null").out);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0].rfind("-1#", 0), 0u) << lines[0];
        EXPECT_EQ(lines[1], "status=255");
        const std::vector<std::string> left(lines.begin() + 2, lines.end());
        // Nothing is left but the earlier file, unchanged.
        const std::vector<std::string> expected =
            c.earlier_output ? std::vector<std::string>{"out.pdf", "an earlier output"} : std::vector<std::string>{};
        EXPECT_EQ(left, expected);
        qstest::run_shell("rm -rf " + qstest::shell_quote(target));
    }
}

TEST(ReplacedOutput, TakesTheModeAPlainWriteWouldGive) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir);
    const std::string input = qstest::fixture("one-page.pdf");
    struct Case {
        const char *what;
        const char *earlier;      // shell steps run first in the folder
        const char *output;       // the output path given
        const char *written;      // the file that must hold the signed document
        mode_t mode;
    };
    const Case cases[] = {
        {"a new file gets 0666 less the umask", "", "new.pdf", "new.pdf", 0640},
        {"an existing file keeps its mode", "echo old > kept.pdf && chmod 0604 kept.pdf", "kept.pdf", "kept.pdf", 0604},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir work;
        const std::string script = std::string("cd ") + qstest::shell_quote(work.path()) + " && umask 027 && " +
                                   (c.earlier[0] ? std::string(c.earlier) + " && " : "") +
                                   qstest::shell_quote(QS_CLI_PATH) + " -z " + qstest::shell_quote(conf) +
                                   " -i " + qstest::shell_quote(input) + " -o " + c.output + " 2>/dev/null";
        const auto r = qstest::run_shell(script);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(clitest::check_signed_output(work.file(c.written)), "");
        EXPECT_EQ(mode_of(work.file(c.written)), c.mode);
        for (const auto &name : entries(work.path())) EXPECT_FALSE(is_partial_name(name)) << name;
    }
}

// Another user plants an entry under an output's name: a symbolic link that
// dangles into a folder of theirs, one that leads to an existing file, or a
// directory. Every route takes it for an existing output: the single-file
// routes refuse it, the routes over many documents skip it, and nothing is
// ever written where a link leads.
TEST(PlantedOutputEntry, CountsAsAnExistingOutputOnEveryRoute) {
    TempDir dir;
    const std::string conf = clitest::write_config(dir, "signer.p12", "tsaurl=http://127.0.0.1:1/tsa\n");
    const std::string in_dir = dir.file("in"), out_dir = dir.file("out"), elsewhere = dir.file("elsewhere");
    for (const std::string &folder : {in_dir, out_dir, elsewhere}) mkdir(folder.c_str(), 0755);
    const std::string input = in_dir + "/doc.pdf", output = out_dir + "/doc.pdf";
    qstest::write_file(input, qstest::read_file(qstest::fixture("one-page.pdf")));
    const std::string signed_input = dir.file("signed.pdf");
    ASSERT_EQ(qstest::run_cli({"-i", input, "-o", signed_input, "-z", conf}).status, 0);
    const std::string exists = "0#Output document already exists: input[" + input + "] output[" + output + "]\n";
    const std::string cli = qstest::shell_quote(QS_CLI_PATH), z = " -z " + qstest::shell_quote(conf);
    const std::string q = cli + z;

    struct Route {
        const char *name;
        std::string command;
        std::string expect;  // the line, or the start of the line
    } routes[] = {
        {"sign", q + " -i " + qstest::shell_quote(input) + " -o " + qstest::shell_quote(output), "-1#The output path "},
        {"addltv", cli + " addltv" + z + " -i " + qstest::shell_quote(signed_input) + " -o " + qstest::shell_quote(output),
         "-1#The output path "},
        {"timestamp", cli + " timestamp" + z + " -i " + qstest::shell_quote(signed_input) + " -o " +
                          qstest::shell_quote(output),
         "-1#The output path "},
        {"directory", q + " -i " + qstest::shell_quote(in_dir) + " -o " + qstest::shell_quote(out_dir), exists},
        {"list", "echo " + qstest::shell_quote(input) + " | " + q + " -i - -o " + qstest::shell_quote(out_dir), exists},
        {"workers", q + " -j 2 -i " + qstest::shell_quote(in_dir) + " -o " + qstest::shell_quote(out_dir), exists},
    };
    struct Entry {
        const char *name;
        std::string plant;     // shell steps that put the entry at the output's name
        std::string refusal;   // what the single-file routes say of it
    } planted[] = {
        {"a dangling link", "ln -s " + qstest::shell_quote(elsewhere + "/doc.pdf") + " " + qstest::shell_quote(output),
         "is a symbolic link"},
        {"a link to a file", "echo precious > " + qstest::shell_quote(elsewhere + "/doc.pdf") + " && ln -s " +
                                 qstest::shell_quote(elsewhere + "/doc.pdf") + " " + qstest::shell_quote(output),
         "is a symbolic link"},
        {"a directory", "mkdir " + qstest::shell_quote(output), "names no regular file"},
    };
    for (const Entry &e : planted) {
        for (const Route &r : routes) {
            SCOPED_TRACE(std::string(r.name) + " with " + e.name + " under the output's name");
            ASSERT_EQ(qstest::run_shell("rm -rf " + qstest::shell_quote(output) + " " +
                                        qstest::shell_quote(elsewhere + "/doc.pdf") + " && " + e.plant)
                          .status,
                      0);
            const std::string before = qstest::run_shell("ls -lA " + qstest::shell_quote(out_dir) + " " +
                                                         qstest::shell_quote(elsewhere) + " && cat " +
                                                         qstest::shell_quote(elsewhere) + "/* 2>/dev/null")
                                           .out;
            const std::string line = qstest::run_shell(r.command + " 2>/dev/null").out;
            EXPECT_EQ(line.rfind(r.expect, 0), 0u) << line;
            if (r.expect != exists) {
                EXPECT_NE(line.find(e.refusal), std::string::npos) << line;
            }
            // The output folder and the folder a link leads into are as they were.
            EXPECT_EQ(qstest::run_shell("ls -lA " + qstest::shell_quote(out_dir) + " " + qstest::shell_quote(elsewhere) +
                                        " && cat " + qstest::shell_quote(elsewhere) + "/* 2>/dev/null")
                          .out,
                      before);
        }
    }
}

}  // namespace
