#include "cli/options.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include <quillseal/quillseal.h>

namespace cli {
namespace {

constexpr const char *kDefaultConfig = "/usr/local/quillseal/quillseal.conf";

bool is_help(const char *word) { return word[0] == '-'; }

struct ValueOption {
    const char *name;
    std::string Options::*field;
    bool counts_workers = false;  // the value must be a number of worker processes
};

constexpr const char *kWorkersRefusal = "The value of -j is a number of worker processes from 0 (one per processor) "
                                        "to 1024.";
static_assert(kMostWorkers == 1024, "the refusal names the most workers");

struct FlagOption {
    const char *name;
    bool Options::*field;
};

// Value options in the order they are tested within each pass; -e comes last.
const ValueOption kValueOptions[] = {
    {"-i", &Options::input},  {"-o", &Options::output},   {"-z", &Options::config},
    {"-l", &Options::location}, {"-r", &Options::reason}, {"-t", &Options::title},
    {"-a", &Options::author}, {"-s", &Options::subject},  {"-k", &Options::keywords},
    {"-p", &Options::password}, {"-j", &Options::jobs, true},
    {"-f", &Options::field},  {"-g", &Options::placement},
};
const FlagOption kFlagOptions[] = {
    {"-v", &Options::visible}, {"-c", &Options::certify}, {"-q", &Options::timestamp}};

class Parser {
public:
    Parser(int argc, const char *const argv[]) : argc_(argc), argv_(argv) {}

    ParseResult run();

private:
    bool at_end() const { return pos_ >= argc_; }
    const char *word() const { return argv_[pos_]; }
    int arguments() const { return argc_ - 1; }
    ParseResult finish(ParseOutcome outcome) {
        result_.outcome = outcome;
        return result_;
    }
    bool command_word(const char *name, Command command, ParseResult &stop);
    bool take_value(const ValueOption &option, ParseResult &stop);
    bool one_pass(ParseResult &stop);

    int argc_;
    const char *const *argv_;
    int pos_ = 1;
    ParseResult result_;
};

// A command word at the position; with exactly two arguments the second one is
// a help request or the input path.
bool Parser::command_word(const char *name, Command command, ParseResult &stop) {
    if (at_end() || std::strcmp(word(), name) != 0) return true;
    result_.options.command = command;
    ++pos_;
    if (arguments() == 2) {
        if (is_help(word())) {
            stop = finish(ParseOutcome::Usage);
            return false;
        }
        result_.options.input = word();
        ++pos_;
    }
    return true;
}

bool Parser::take_value(const ValueOption &option, ParseResult &stop) {
    ++pos_;
    if (at_end()) {
        stop = finish(ParseOutcome::Usage);
        return false;
    }
    if (std::strlen(word()) > kValueLimit) {
        result_.detail = option.name;
        stop = finish(ParseOutcome::ValueTooLong);
        return false;
    }
    unsigned workers = 0;
    if (option.counts_workers && !worker_count(word(), workers)) {
        result_.detail = kWorkersRefusal;
        stop = finish(ParseOutcome::BadValue);
        return false;
    }
    result_.options.*option.field = word();
    ++pos_;
    return true;
}

bool Parser::one_pass(ParseResult &stop) {
    Options &o = result_.options;
    for (const ValueOption &opt : kValueOptions) {
        if (at_end()) return true;
        if (std::strcmp(word(), opt.name) == 0 && !take_value(opt, stop)) return false;
    }
    for (const FlagOption &opt : kFlagOptions) {
        if (at_end()) return true;
        if (std::strcmp(word(), opt.name) == 0) {
            o.*opt.field = true;
            ++pos_;
        }
    }
    if (!at_end() && std::strcmp(word(), "-e") == 0) {
        if (arguments() != 2) {
            stop = finish(ParseOutcome::Usage);
            return false;
        }
        o.encrypt_request = true;
        return take_value({"-e", &Options::password}, stop);
    }
    return true;
}

ParseResult Parser::run() {
    if (arguments() == 0) return finish(ParseOutcome::NoArguments);
    if (arguments() == 1) {
        const char *only = argv_[1];
        if (is_help(only)) return finish(ParseOutcome::Usage);
        if (std::strcmp(only, "addltv") == 0) {
            result_.options.command = Command::AddLtv;
            return finish(ParseOutcome::Usage);
        }
        if (std::strcmp(only, "verify") == 0) {
            result_.options.command = Command::Verify;
            return finish(ParseOutcome::Usage);
        }
        if (std::strcmp(only, "timestamp") == 0) {
            result_.options.command = Command::Timestamp;
            return finish(ParseOutcome::Usage);
        }
        if (std::strcmp(only, "report") == 0) {
            result_.options.command = Command::Report;
            return finish(ParseOutcome::Usage);
        }
        if (std::strcmp(only, "fields") == 0) {
            result_.options.command = Command::Fields;
            return finish(ParseOutcome::Usage);
        }
        if (std::strcmp(only, "addfield") == 0) {
            result_.options.command = Command::AddField;
            return finish(ParseOutcome::Usage);
        }
        if (std::strlen(only) > kValueLimit) {
            result_.detail = "input path";
            return finish(ParseOutcome::ValueTooLong);
        }
        result_.options.input = only;
        return finish(ParseOutcome::Run);
    }
    ParseResult stop;
    if (!command_word("addltv", Command::AddLtv, stop)) return stop;
    if (!command_word("verify", Command::Verify, stop)) return stop;
    if (!command_word("timestamp", Command::Timestamp, stop)) return stop;
    if (!command_word("report", Command::Report, stop)) return stop;
    if (!command_word("fields", Command::Fields, stop)) return stop;
    if (!command_word("addfield", Command::AddField, stop)) return stop;
    while (!at_end()) {
        const int before = pos_;
        if (!one_pass(stop)) return stop;
        if (pos_ == before) return finish(ParseOutcome::Usage);
    }
    if (result_.options.input.size() > kValueLimit) {
        result_.detail = "input path";
        return finish(ParseOutcome::ValueTooLong);
    }
    return finish(ParseOutcome::Run);
}

unsigned processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace

bool worker_count(const std::string &value, unsigned &workers) {
    unsigned n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || n > kMostWorkers)
        return false;
    workers = n == 0 ? std::min(processors(), kMostWorkers) : n;
    return true;
}

ParseResult parse_arguments(int argc, const char *const argv[]) { return Parser(argc, argv).run(); }

bool read_placement(const std::string &text, int &page, int rect[4]) {
    const char *at = text.data(), *end = text.data() + text.size();
    int *targets[] = {&page, &rect[0], &rect[1], &rect[2], &rect[3]};
    const char separators[] = {'/', ',', ',', ',', '\0'};
    for (int i = 0; i < 5; ++i) {
        const auto [next, error] = std::from_chars(at, end, *targets[i]);
        if (error != std::errc() || next == at) return false;
        at = next;
        if (separators[i] == '\0') return at == end;
        if (at == end || *at != separators[i]) return false;
        ++at;
    }
    return false;
}

std::string configuration_text(const Options &options) {
    if (options.field.empty() || options.command != Command::Sign) return options.config;
    const auto quoted = [](const std::string &text) {
        std::string out = "\"";
        for (unsigned char ch : text) {
            if (ch == '"' || ch == '\\') {
                out += '\\';
                out += static_cast<char>(ch);
            } else if (ch < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
                out += escaped;
            } else {
                out += static_cast<char>(ch);
            }
        }
        return out + "\"";
    };
    return "{\"conffile\": " + quoted(options.config) + ", \"sigfield\": " + quoted(options.field) + "}";
}

std::string usage_text(Command command) {
    char version[256];
    quillseal_version(version);
    std::string t = std::string(version) + "\nUsage:\n";
    const std::string missing_z =
        std::string("If -z is missing the configuration file \"") + kDefaultConfig + "\" is used instead.\n\n";
    const std::string workers = "If -i and -o are directories, -j N works on N files at once in separate processes; "
                                "-j 0 uses one process per processor.\n";
    const std::string list = "With -i - the input files are named on standard input, one per line, and go into the "
                             "-o directory as the files of an input directory do.\n";
    switch (command) {
    case Command::Sign:
        t += "quillseal -i input.pdf -o output.pdf -p \"password\" -l \"location\" -r \"reason\" -v <visible> "
             "-c <certify> -q <timestamp> -t \"title\" -a \"author\" -s \"subject\" -k \"keywords\" -z quillseal.conf "
             "-j <workers> -f \"field name\"\n";
        t += "\nOnly -i is required. If -o is missing the output file is the same as the input with \"-signed\" appended.\n";
        t += "With -f (or sigfield in the configuration; -f wins) the signature goes into the empty signature field "
             "of that fully qualified name, or into a new field of that name when the document has none.\n";
        t += "If -i and -o are directories all the PDF files in the input directory are signed and placed in the output "
             "directory, if not there yet.\n";
        t += list;
        t += workers;
        t += missing_z;
        t += "The password is the open document password, needed if the signed document is to be encrypted.\n";
        t += "\nThe configuration file can store an encrypted password for the PKCS#12 key store. The password can be "
             "encrypted from the command line with -e \"password\".\n";
        break;
    case Command::AddLtv:
        t += "quillseal addltv -i input.pdf -o output.pdf -z quillseal.conf -j <workers>\n";
        t += "\nOnly -i is required. If -o is missing the output file is the same as the input with \"-ltved\" appended.\n";
        t += list;
        t += workers;
        t += missing_z;
        t += "The input file needs to be already signed.\n";
        break;
    case Command::Timestamp:
        t += "quillseal timestamp -i input.pdf -o output.pdf -z quillseal.conf -j <workers>\n";
        t += "\nOnly -i is required. If -o is missing the output file is the same as the input with \"-timestamped\" "
             "appended.\n";
        t += workers;
        t += missing_z;
        t += "The document timestamp comes from the time-stamping authority named by tsaurl in the configuration.\n";
        break;
    case Command::Report:
        t += "quillseal report -i input.pdf -z quillseal.conf\n";
        t += "\nOnly -i is required. The report of every signature is written to standard output as JSON; the "
             "status is 0 when every signature is intact, unchanged but for allowed updates and trusted, 1 when "
             "not, 255 when the document cannot be read.\n";
        t += "The trust anchors come from the PEM file named by trustca in the configuration "
             "(/etc/ssl/certs/ca-certificates.crt by default).\n\n";
        break;
    case Command::Fields:
        t += "quillseal fields -i input.pdf\n";
        t += "\nThe signature fields of the document are written to standard output as JSON, in document order: "
             "name, page, rect, signed, signer and lock of each. The status is 0, or 255 when the document cannot "
             "be read.\n\n";
        break;
    case Command::AddField:
        t += "quillseal addfield -i input.pdf -o output.pdf -f NAME -g PAGE/LLX,LLY,URX,URY -z quillseal.conf\n";
        t += "\nAdds an empty signature field NAME (dots make or reuse parent fields) on page PAGE at the rectangle "
             "given by its lower-left and upper-right corners, as an incremental update of an unsigned document. "
             "siglock in the configuration (all, include:a,b or exclude:a,b) says which fields its signature will "
             "lock; the configuration needs no key store.\n\n";
        break;
    case Command::Verify:
        t += "quillseal verify -i input.pdf -z quillseal.conf\n";
        t += "\nOnly -i is required.\n";
        t += std::string("If -z is missing, and needed, the configuration file \"") + kDefaultConfig +
             "\" is used instead.\n\n";
        break;
    }
    return t;
}

}  // namespace cli
