// The routes of a quillseal run once its command line is parsed.
#pragma once

#include <quillseal/quillseal.h>

#include "cli/options.h"

namespace cli {

// Starts the Java front end's version check (the run without arguments).
int run_without_arguments();
// Prints the stored form of the password given to -e.
int run_encrypt_password(const Options &options);
// Reads the configuration and takes the Java, single-file or directory route.
int run_command(const Options &options, int argc, const char *const argv[]);

// The status lines of a document of a directory or list run: signed (or
// LTVed, timestamped), its output there already, or not signed and why; a
// failure line names its document unless the reason names it already.
// The signed line takes the note of a document whose field was made for it
// from the message slot, or from note (a batch's message for the document).
std::string success_line(Command command, const std::string &input, const std::string &output);
std::string success_line(Command command, const std::string &input, const std::string &output,
                         const std::string &note);
std::string exists_line(const std::string &input, const std::string &output);
std::string document_failure_line(const std::string &why, const std::string &input);

// Why an operation failed: the system error when one is set, else the message slot.
std::string failure_text();
// Its "-1#" line.
std::string failure_line();
void print_failure_line();

}  // namespace cli
