// The command line of quillseal: parsed state and the parser.
#pragma once

#include <string>

namespace cli {

enum class Command { Sign, AddLtv, Verify };

constexpr std::size_t kValueLimit = 255;

struct Options {
    Command command = Command::Sign;
    std::string input, output, config;
    std::string location, reason, title, author, subject, keywords;
    std::string password;  // open password, or the password given to -e
    bool visible = false, certify = false, timestamp = false;
    bool encrypt_request = false;
};

// What the parser decided the run does next.
enum class ParseOutcome { Run, NoArguments, Usage, ValueTooLong };

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::Run;
    Options options;
    std::string detail;  // the option whose value was too long
};

ParseResult parse_arguments(int argc, const char *const argv[]);

// The usage text of a command, version line first.
std::string usage_text(Command command);

}  // namespace cli
