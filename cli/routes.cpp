#include "cli/routes.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/batch_route.h"
#include "cli/documents.h"
#include "cli/worker_pool.h"

namespace cli {
namespace {

constexpr const char *kInstallDir = "/usr/local/quillseal";
// Network requests a run has in flight at once when netconcurrency is not set.
constexpr unsigned kDefaultNetworkRequests = 32;

using ConfigPtr = std::unique_ptr<SigningConfig, decltype(&free_config)>;

// A text as it stands in a status line: every status is exactly one line, so
// line ends in a message or a path become blanks (trailing ones are dropped).
std::string on_one_line(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char &ch : text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return text;
}

std::string fetch_message() {
    char buf[256];
    handle_error_message(buf, 0);
    return on_one_line(buf);
}

// The exit status a shell command ended with (-1 when it did not end normally).
int command_status(int raw) {
    if (raw == -1) return -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// One word for the shell, whatever it holds.
std::string shell_word(const std::string &word) {
    std::string quoted = "'";
    for (char ch : word) quoted += (ch == '\'') ? std::string("'\\''") : std::string(1, ch);
    return quoted + "'";
}

bool uses_java_route(const SigningConfig &config) {
    return std::strcmp(config.cryptolib, "bc") == 0 || std::strcmp(config.cryptolib, "bouncycastle") == 0;
}

int run_java_route(int argc, const char *const argv[]) {
    std::string args;
    for (int i = 1; i < argc; ++i) args += " " + shell_word(argv[i]);
    const std::string command = std::string("cd ") + kInstallDir + "; java -jar lib/QuillsealCLI.jar" + args;
    std::fflush(stdout);
    return command_status(std::system(command.c_str()));
}

std::string derived_output(const Options &o) {
    if (!o.output.empty() || o.command == Command::Verify) return o.output;
    const std::string stem = o.input.substr(0, o.input.size() - 4);
    switch (o.command) {
        case Command::AddLtv: return stem + "-ltved.pdf";
        case Command::Timestamp: return stem + "-timestamped.pdf";
        case Command::AddField: return stem + "-field.pdf";
        default: return stem + "-signed.pdf";
    }
}

const char *success_text(Command command) {
    switch (command) {
        case Command::AddLtv: return "0#Document LTVed: ";
        case Command::Timestamp: return "0#Document timestamped: ";
        case Command::AddField: return "0#Signature field added: ";
        default: return "0#Document signed: ";
    }
}

// What a signature leaves in the message slot when the field it was asked
// to go into was made for it.
constexpr const char *kNewFieldNote = "New signature field: ";

// The note of a signature that made its field, as its line tells it; empty
// for any other.
std::string new_field_text(Command command, const std::string &note) {
    if (command != Command::Sign || note.rfind(kNewFieldNote, 0) != 0) return std::string();
    return " new field[" + note.substr(std::strlen(kNewFieldNote)) + "]";
}

void print_success(Command command, const std::string &input, const std::string &output) {
    std::fputs(success_line(command, input, output).c_str(), stdout);
}

// A text the library handed out (freed here) on one line of its own, or the
// failure line when there is none.
void print_text_or_failure(int rc, char *text) {
    if (rc == 0) {
        std::fputs(text, stdout);
        std::fputc('\n', stdout);
    } else {
        print_failure_line();
    }
    std::free(text);
}

// The report goes to standard output whole; a document that cannot be read
// gets its status line instead.
int run_report(const Options &o, SigningConfig *config) {
    char *text = nullptr;
    int valid = 0;
    pdfsigning_init_cmd();
    const int rc = signature_report_internal(o.input.c_str(), config, &text, &valid);
    print_text_or_failure(rc, text);
    pdfsigning_shutdown();
    return rc < 0 ? -1 : (valid ? 0 : 1);
}

// The list of fields goes to standard output whole; a document that cannot
// be read gets its status line instead.
int run_fields(const Options &o) {
    char *text = nullptr;
    pdfsigning_init_cmd();
    const int rc = signature_fields(o.input.c_str(), &text);
    print_text_or_failure(rc, text);
    pdfsigning_shutdown();
    return rc < 0 ? -1 : 0;
}

int run_add_field(const Options &o) {
    int page = 0, rect[4] = {0, 0, 0, 0};
    if (o.field.empty()) {
        std::printf("-1#addfield needs the name of the new field (-f NAME).\n");
        return -1;
    }
    if (!read_placement(o.placement, page, rect)) {
        std::printf("-1#addfield needs the page and rectangle of the new field as -g PAGE/LLX,LLY,URX,URY (whole "
                    "numbers): %s\n", on_one_line(o.placement).c_str());
        return -1;
    }
    const std::string output = derived_output(o);
    pdfsigning_init_cmd();
    const int rc = add_signature_field(o.input.c_str(), output.c_str(), o.field.c_str(), page, rect, o.config.c_str());
    if (rc == 0)
        print_success(o.command, o.input, output);
    else
        print_failure_line();
    pdfsigning_shutdown();
    return rc;
}

int run_single_file(const Options &o, SigningConfig *config) {
    if (o.command == Command::Report) return run_report(o, config);
    const std::string output = derived_output(o);
    pdfsigning_init_cmd();
    int rc;
    if (o.command == Command::AddLtv) {
        rc = ltv(o.input.c_str(), output.c_str(), o.config.c_str());
    } else if (o.command == Command::Timestamp) {
        rc = timestamp_document(o.input.c_str(), output.c_str(), o.config.c_str());
    } else if (o.command == Command::Verify) {
        rc = verify_internal(o.input.c_str(), config);
    } else {
        rc = sign_internal(o.input.c_str(), output.c_str(), o.location.c_str(), o.reason.c_str(),
                           o.password.c_str(), o.visible, o.title.c_str(), o.author.c_str(),
                           o.subject.c_str(), o.keywords.c_str(), o.timestamp, o.certify, config);
    }
    if (o.command == Command::Verify) {
        const std::string text = fetch_message();
        if (rc == 0)
            std::printf("0#Document signature verified [Signer: %s]\n", text.c_str());
        else
            std::printf("-1#Document signature verification fails [%s]\n", text.c_str());
    } else if (rc == 0) {
        print_success(o.command, o.input, output);
    } else {
        print_failure_line();
    }
    pdfsigning_shutdown();
    return rc;
}

// One document of a directory or list run, read with its own configuration.
int sign_one_in_directory(const Options &o, const std::string &in, const std::string &out) {
    if (o.command == Command::AddLtv) return ltv(in.c_str(), out.c_str(), o.config.c_str());
    if (o.command == Command::Timestamp) return timestamp_document(in.c_str(), out.c_str(), o.config.c_str());
    return sign(in.c_str(), out.c_str(), o.location.c_str(), o.reason.c_str(), o.password.c_str(),
                o.visible, o.title.c_str(), o.author.c_str(), o.subject.c_str(), o.keywords.c_str(),
                configuration_text(o).c_str(), o.timestamp, o.certify);
}

// The documents one after the other in this process, in their order; the
// result is the last document's, and failed is set when any document failed.
int run_documents_here(const Options &o, const std::vector<Document> &documents, bool &failed) {
    int status = 0;
    for (const Document &doc : documents) {
        if (output_exists(doc.output)) {
            std::fputs(exists_line(doc.input, doc.output).c_str(), stdout);
            continue;
        }
        errno = 0;
        status = sign_one_in_directory(o, doc.input, doc.output);
        if (status == 0) {
            print_success(o.command, doc.input, doc.output);
        } else {
            std::fputs(document_failure_line(failure_text(), doc.input).c_str(), stdout);
            failed = true;
        }
        std::fflush(stdout);
    }
    return status;
}

// netconcurrency: the most network requests a run has in flight at once.
bool network_concurrency(const SigningConfig *config, unsigned &requests) {
    requests = kDefaultNetworkRequests;
    const std::string text =
        config ? std::string(config->netconcurrency, strnlen(config->netconcurrency, sizeof config->netconcurrency))
               : std::string();
    if (text.empty()) return true;
    unsigned n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || n < 1 || n > kMostWorkers) {
        std::printf("-1#The netconcurrency value %s is not a number between 1 and %u.\n", on_one_line(text).c_str(),
                    kMostWorkers);
        return false;
    }
    requests = n;
    return true;
}

// A run asks the network for every document when it timestamps or adds LTV data.
bool waits_on_network(const Options &o) {
    return o.timestamp || o.command == Command::Timestamp || o.command == Command::AddLtv;
}

// The worker processes of a -j run: as many as -j asks for, never more than
// netconcurrency, and for -j 0 on a run that waits on the network as many more
// as the waits call for, up to netconcurrency.
WorkerPlan worker_plan(const Options &o, unsigned network_requests) {
    WorkerPlan plan;
    worker_count(o.jobs, plan.workers);
    plan.most = network_requests;
    plan.grow_while_waiting = o.jobs == "0" && waits_on_network(o);
    return plan;
}

// The documents spread over -j worker processes; -1 when any document failed.
// A signing device is tried here once first: when it refuses, the documents
// are refused here, on that one try, instead of one login per worker (a card
// locks itself after a few wrong PINs). Otherwise it is closed again before
// the workers start, and each worker opens its own session when it starts.
int run_documents_in_workers(const Options &o, const std::vector<Document> &documents,
                             unsigned network_requests) {
    if (o.command == Command::Sign && pdfsigning_open_device(o.config.c_str()) < 0) {
        fetch_message();  // each document reports the refusal itself
        bool failed = false;
        run_documents_here(o, documents, failed);
        return failed ? -1 : 0;
    }
    pdfsigning_shutdown();
    pdfsigning_init_cmd();
    DocumentWork work;
    work.run = [&o](const std::string &in, const std::string &path) { return sign_one_in_directory(o, in, path); };
    work.finished_line = [&o](const Document &doc, int result) {
        return result == 0 ? success_line(o.command, doc.input, doc.output)
                           : document_failure_line(failure_text(), doc.input);
    };
    work.skipped_line = [](const Document &doc) { return exists_line(doc.input, doc.output); };
    if (o.command == Command::Sign) {
        work.started = [&o] {
            // Nothing of the run's own library state is used across fork; a
            // failure here is reported again by the worker's documents.
            pdfsigning_shutdown();
            pdfsigning_init_cmd();
            pdfsigning_open_device(o.config.c_str());
            char discarded[256];
            handle_error_message(discarded, 0);
        };
    }
    return run_in_workers(documents, o.output, worker_plan(o, network_requests), work);
}


// The output directory of a directory or list run; false after the line that says what is wrong.
bool output_directory_ready(const Options &o) {
    if (o.output.empty()) {
        std::printf("-1#Please provide an output directory!\n");
        return false;
    }
    const std::unique_ptr<DIR, int (*)(DIR *)> out_dir(opendir(o.output.c_str()), &closedir);
    if (!out_dir) {
        std::printf("-1#Please make sure output directory exists!\n");
        return false;
    }
    return true;
}

int run_directory(const Options &o, const SigningConfig *config, std::size_t together) {
    const std::unique_ptr<DIR, int (*)(DIR *)> in_dir(opendir(o.input.c_str()), &closedir);
    if (!in_dir) {
        print_failure_line();
        return -1;
    }
    if (o.command == Command::Verify || o.command == Command::Report) {
        std::printf("-1#%s takes one PDF file, not a directory: %s\n",
                    o.command == Command::Verify ? "Verification" : "The report", on_one_line(o.input).c_str());
        return -1;
    }
    if (!output_directory_ready(o)) return 0;
    unsigned network_requests = 0;
    if (!network_concurrency(config, network_requests)) return -1;

    const std::vector<Document> documents = directory_documents(in_dir.get(), o.input, o.output);
    pdfsigning_init_cmd();
    bool failed = false;
    const int status = together > 1     ? run_batches(o, documents, together, worker_plan(o, network_requests), failed)
                       : o.jobs.empty() ? run_documents_here(o, documents, failed)
                                        : run_documents_in_workers(o, documents, network_requests);
    pdfsigning_shutdown();
    return status;
}

// The files named on standard input, one a line, signed as a directory run
// signs its files; -1 when any of them was refused or failed.
int run_list(const Options &o, const SigningConfig *config, std::size_t together) {
    if (o.command == Command::Verify || o.command == Command::Report) {
        std::printf("-1#%s takes one PDF file, not a list of files.\n",
                    o.command == Command::Verify ? "Verification" : "The report");
        return -1;
    }
    // A batch without its output directory failed: whoever hands out batches must see it.
    if (!output_directory_ready(o)) return -1;
    unsigned network_requests = 0;
    if (!network_concurrency(config, network_requests)) return -1;

    const DocumentList list = read_document_list(stdin, o.output);
    for (const Refusal &refusal : list.refusals)
        std::fputs(document_failure_line(refusal.reason, refusal.input).c_str(),
                   stdout);
    bool failed = !list.refusals.empty();
    if (list.read_error != 0) {
        std::printf("-1#The list of input files could not be read to its end: %s [errno: %d]\n",
                    std::strerror(list.read_error), list.read_error);
        failed = true;
    }
    std::fflush(stdout);

    pdfsigning_init_cmd();
    if (together > 1)
        run_batches(o, list.documents, together, worker_plan(o, network_requests), failed);
    else if (o.jobs.empty())
        run_documents_here(o, list.documents, failed);
    else if (run_documents_in_workers(o, list.documents, network_requests) != 0)
        failed = true;
    pdfsigning_shutdown();
    return failed ? -1 : 0;
}

}  // namespace

// The message slot is fetched either way, so that nothing of this document
// stays behind for the next.
std::string success_line(Command command, const std::string &input, const std::string &output) {
    return success_line(command, input, output, fetch_message());
}

std::string success_line(Command command, const std::string &input, const std::string &output,
                         const std::string &note) {
    const char *done = success_text(command);
    const std::string made = new_field_text(command, note);
    return done + ("input[" + on_one_line(input) + "] output[" + on_one_line(output) + "]" + made + "\n");
}

std::string exists_line(const std::string &input, const std::string &output) {
    return "0#Output document already exists: input[" + on_one_line(input) + "] output[" + on_one_line(output) +
           "]\n";
}

// The "-1#" line of a document of a directory or list run that was not
// signed; every such line of a run is made here. It names its
// document, since with workers the lines come in the order they finish; a
// message about the input itself names it already.
std::string document_failure_line(const std::string &why, const std::string &input) {
    const std::string named = " [File: " + on_one_line(input) + "]";
    const bool names_it =
        why.size() >= named.size() && why.compare(why.size() - named.size(), named.size(), named) == 0;
    return "-1#" + why + (names_it ? "" : named) + "\n";
}

std::string failure_text() {
    if (errno != 0) {
        const int number = errno;
        return std::string(std::strerror(number)) + " [errno: " + std::to_string(number) + "]";
    }
    return fetch_message();
}

std::string failure_line() { return "-1#" + failure_text() + "\n"; }

void print_failure_line() { std::fputs(failure_line().c_str(), stdout); }

int run_without_arguments() {
    const std::string command =
        std::string("cd ") + kInstallDir + "; java -jar lib/Quillseal.jar -version 2>/dev/null &";
    const int raw = std::system(command.c_str());
    sleep(2);
    return command_status(raw);
}

int run_encrypt_password(const Options &options) {
    char stored[513] = "";
    if (encrypt_password(options.password.c_str(), stored) < 0) {
        print_failure_line();
        return -1;
    }
    std::printf("Encrypted password: %s\n", stored);
    return 0;
}

// The commands on one document's form, which need no key store and never
// take the Java route.
int run_form_command(const Options &o) {
    if (!is_pdf_name(o.input) || o.input == "-") {
        std::printf("-1#%s takes one PDF file: %s\n", o.command == Command::Fields ? "fields" : "addfield",
                    on_one_line(o.input).c_str());
        return -1;
    }
    errno = 0;
    return o.command == Command::Fields ? run_fields(o) : run_add_field(o);
}

int run_command(const Options &options, int argc, const char *const argv[]) {
    if (options.command == Command::Fields || options.command == Command::AddField) return run_form_command(options);
    SigningConfig *raw = nullptr;
    const int rc = read_config(configuration_text(options).c_str(), &raw);
    ConfigPtr config(raw, &free_config);
    if (rc < 0) {
        const std::string why = fetch_message();
        const bool not_opened = why.empty() || why.rfind("Error opening file", 0) == 0;
        // Verifying needs no configuration at all, and adding LTV data or a
        // document timestamp no key store: a file that was read (for its
        // cache directory or its authority) is enough.
        const bool storeless = options.command == Command::AddLtv || options.command == Command::Timestamp;
        const bool goes_on = options.command == Command::Verify || options.command == Command::Report ||
                             (storeless && !not_opened);
        if (!goes_on) {
            // A file that was read but is incomplete or unusable is named by the
            // library's own message; "not found" would send the user looking for it.
            if (not_opened)
                std::printf("-1#No configuration file found or provided...\n");
            else
                std::printf("-1#%s\n", why.c_str());
            return rc;
        }
    }
    if (config && uses_java_route(*config)) return run_java_route(argc, argv);
    // A key that signs many documents at once is given them in batches.
    const int batch = options.command == Command::Sign ? signing_batch_size(config.get()) : 1;
    const std::size_t together = batch > 1 ? static_cast<std::size_t>(batch) : 1;
    errno = 0;
    if (options.input == "-") return run_list(options, config.get(), together);
    if (is_pdf_name(options.input)) return run_single_file(options, config.get());
    return run_directory(options, config.get(), together);
}

}  // namespace cli
