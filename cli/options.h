// The command line of quillseal: parsed state and the parser.
#pragma once

#include <string>

namespace cli {

enum class Command { Sign, AddLtv, Verify, Timestamp, Report, Fields, AddField };

constexpr std::size_t kValueLimit = 255;

struct Options {
    Command command = Command::Sign;
    std::string input, output, config;
    std::string location, reason, title, author, subject, keywords;
    std::string password;  // open password, or the password given to -e
    std::string jobs;      // -j: worker processes of a directory run (checked); empty: none, all in this process
    std::string field;     // -f: the signature field to sign in, or the field addfield makes
    std::string placement; // -g: PAGE/LLX,LLY,URX,URY of the field addfield makes
    bool visible = false, certify = false, timestamp = false;
    bool encrypt_request = false;
};

// What the parser decided the run does next.
enum class ParseOutcome { Run, NoArguments, Usage, ValueTooLong, BadValue };

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::Run;
    Options options;
    std::string detail;  // the option whose value was too long, or why a value is refused
};

// The most worker processes -j starts.
constexpr unsigned kMostWorkers = 1024;

// The number of worker processes -j asks for: the value itself, or one per
// processor this process may run on for 0. False for anything but a whole
// number from 0 to kMostWorkers.
bool worker_count(const std::string &value, unsigned &workers);

ParseResult parse_arguments(int argc, const char *const argv[]);

// The page and rectangle of -g ("PAGE/LLX,LLY,URX,URY", whole numbers); false
// for any other text.
bool read_placement(const std::string &text, int &page, int rect[4]);

// The configuration the library is handed: the -z path, or with -f a JSON
// text that names the -z file and the field, so that -f wins over sigfield=.
std::string configuration_text(const Options &options);

// The usage text of a command, version line first.
std::string usage_text(Command command);

}  // namespace cli
