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

// Why an operation failed: the system error when one is set, else the message slot.
std::string failure_text();
// Its "-1#" line.
std::string failure_line();
void print_failure_line();

}  // namespace cli
