// A directory run spread over worker processes (-j). The library keeps
// process-wide state (the message slot, the parsed key store, an engine), so
// every worker is a process of its own, forked from the run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cli {

// One document of a directory run.
struct Document {
    std::string input;
    std::string output;  // a file in the run's output directory
};

// True when an entry holds the output's name, whatever it is: a file, a
// symbolic link (dangling or not), a directory. Such an output exists; no run
// writes over it or through it.
bool output_exists(const std::string &output);

// What the run does with each document, whatever the command.
struct DocumentWork {
    // Writes the output of input at path, which is the output itself or a
    // file that becomes the output once complete; returns the library's result.
    std::function<int(const std::string &input, const std::string &path)> run;
    // The status line of a document just done, read right after run (result
    // 0, or a failure with errno and the message slot as it left them).
    std::function<std::string(const Document &, int result)> finished_line;
    // The status line of a document whose output exists already.
    std::function<std::string(const Document &)> skipped_line;
    // Documents done together, as a key in a remote signing service signs a
    // whole batch in one exchange: when set, a worker is given up to
    // `together` documents at once and this writes each at its path,
    // returning each one's result. finished_line follows for each document,
    // as after run.
    std::size_t together = 1;
    std::function<std::vector<int>(const std::vector<Document> &, const std::vector<std::string> &paths)>
        run_together;
    // Run by each worker right after it starts, before its first document, by
    // one worker at a time: a worker opens its own device session and logs in
    // here, and the logins of several workers never overlap. May be empty.
    std::function<void()> started;
};

// How many worker processes a run has. A worker makes one network request at
// a time, so a run with at most `most` workers never has more than `most`
// requests in flight.
struct WorkerPlan {
    unsigned workers = 1;  // started at first
    unsigned most = 1;     // never more at once
    // More workers, up to `most`, while documents wait on the network: the run
    // measures how long each document took against the processor time its
    // worker spent on it, and keeps enough workers for the processors to stay
    // busy while the others wait.
    bool grow_while_waiting = false;
};

// Works on the documents, in their order, with the worker processes of plan,
// and returns 0 when no document failed, else -1.
//
// Each document is given to exactly one worker (with run_together, in groups
// of up to `together`); one whose output exists (output_exists) is skipped
// when its turn comes. Every status line reaches standard output
// whole, with one write, as its document is done, so lines never mix. A
// worker writes into a folder of its own in the output directory (named
// "quillseal-partial-worker-" and six letters or digits) and moves each
// complete output to its name, never over a file that appeared there in the
// meantime. A worker that dies (killed, or crashed on a document) costs only
// its document, which gets a "-1#" line; its folder goes with it and a new
// worker takes over the remaining documents.
int run_in_workers(const std::vector<Document> &documents, const std::string &output_directory,
                   const WorkerPlan &plan, const DocumentWork &work);

}  // namespace cli
