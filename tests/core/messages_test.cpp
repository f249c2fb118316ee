// The message slot, its latch, file-open reports, the debug log and the version text.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace {

std::string fetch() {
    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    handle_error_message(buf, 0);
    return buf;
}

void report(const char *text) { handle_error_message(const_cast<char *>(text), 1); }

TEST(MessageSlot, FirstReportWinsUntilFetched) {
    fetch();
    report("first");
    report("second");
    EXPECT_EQ(fetch(), "first");
    EXPECT_EQ(fetch(), "first");  // the slot keeps its text after a fetch
    report("third");
    EXPECT_EQ(fetch(), "third");
}

TEST(MessageSlot, AcceptedReportClearsErrnoAndLatchedOneDoesNot) {
    fetch();
    errno = ENOENT;
    report("accepted");
    EXPECT_EQ(errno, 0);
    errno = EACCES;
    report("ignored while latched");
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(fetch(), "accepted");
}

TEST(MessageSlot, ModeAboveOneReplacesWithoutLatching) {
    fetch();
    handle_error_message(const_cast<char *>("unlatched"), 2);
    report("latched");
    EXPECT_EQ(fetch(), "latched");
    handle_error_message(const_cast<char *>("ignored"), -1);
    EXPECT_EQ(fetch(), "latched");
}

TEST(MessageSlot, LongReportIsCutToTheSlot) {
    fetch();
    const std::string longtext(1000, 'a');
    report(longtext.c_str());
    EXPECT_EQ(fetch(), std::string(255, 'a'));
}

TEST(FileOpenReport, NamesTheSystemReasonAndThePathAndClearsErrno) {
    fetch();
    errno = ENOENT;
    EXPECT_EQ(handle_fopen_error_message("/no/such/file.pdf"), 0);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(fetch(), std::string(std::strerror(ENOENT)) + " [File: /no/such/file.pdf]");
}

TEST(FileOpenReport, LongPathIsCutWithoutOverrun) {
    fetch();
    errno = ENOENT;
    const std::string path = "/" + std::string(400, 'p');
    handle_fopen_error_message(path.c_str());
    const std::string text = fetch();
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(text.rfind(std::strerror(ENOENT), 0), 0u);
}

TEST(DebugLog, WritesTimestampedLinesOnlyWhenDebugIsExactlyOn) {
    qstest::TempDir dir;
    SigningConfig config{};
    const std::string log = dir.file("debug.log");
    std::strcpy(config.logfile, log.c_str());

    std::strcpy(config.debug, "ON");
    handle_debug_message(&config, "not written");
    EXPECT_FALSE(qstest::file_exists(log));

    std::strcpy(config.debug, "on");
    handle_debug_message(&config, "first line");
    handle_debug_message(&config, std::string(600, 'z').c_str());
    const std::string text = qstest::read_file(log);
    const std::regex first(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[core\]: first line\n)");
    EXPECT_TRUE(std::regex_search(text, first)) << text;
    const auto second = text.substr(text.find('\n') + 1);
    EXPECT_EQ(second.size(), 255u);  // bounded to the record, newline kept
    EXPECT_EQ(second.back(), '\n');
}

TEST(DebugLog, UnopenableLogFileIsIgnored) {
    SigningConfig config{};
    std::strcpy(config.debug, "on");
    std::strcpy(config.logfile, "/no/such/dir/quillseal.log");
    errno = 0;
    handle_debug_message(&config, "dropped");
    EXPECT_EQ(errno, 0);  // a front end would otherwise print the errno form of a failure
}

TEST(Version, StartsWithTheVersionAndFitsTheBuffer) {
    char out[256];
    EXPECT_EQ(quillseal_version(out), 0);
    EXPECT_EQ(std::string(out).rfind("Quillseal v2.7.1, ", 0), 0u);
    EXPECT_GT(std::strlen(out), std::strlen("Quillseal v2.7.1, "));
}

}  // namespace
