// quillseal: signs PDF documents, adds LTV data, verifies, and stores passwords.
#include <cstdio>

#include "cli/options.h"
#include "cli/routes.h"

int main(int argc, char *argv[]) {
    const cli::ParseResult parsed = cli::parse_arguments(argc, argv);
    int status = 0;
    switch (parsed.outcome) {
    case cli::ParseOutcome::NoArguments:
        status = cli::run_without_arguments();
        break;
    case cli::ParseOutcome::Usage:
        std::fputs(cli::usage_text(parsed.options.command).c_str(), stdout);
        break;
    case cli::ParseOutcome::ValueTooLong:
        std::printf("-1#Value too long for %s (at most %zu bytes).\n", parsed.detail.c_str(), cli::kValueLimit);
        status = -1;
        break;
    case cli::ParseOutcome::BadValue:
        std::printf("-1#%s\n", parsed.detail.c_str());
        status = -1;
        break;
    case cli::ParseOutcome::Run:
        if (parsed.options.encrypt_request)
            status = cli::run_encrypt_password(parsed.options);
        else if (parsed.options.input.empty())
            std::fputs(cli::usage_text(parsed.options.command).c_str(), stdout);
        else
            status = cli::run_command(parsed.options, argc, argv);
        break;
    }
    std::fflush(stdout);
    return status;
}
