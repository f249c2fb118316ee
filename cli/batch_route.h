// A directory or list run whose key signs many documents at once, as a key
// in a remote signing service does: the documents go to the library's
// sign_many in batches of the key's size, in this process or spread over -j
// worker processes, each worker given whole batches.
#pragma once

#include <cstddef>
#include <vector>

#include "cli/options.h"
#include "cli/worker_pool.h"

namespace cli {

// Signs the documents in batches of up to `together`, one status line each as
// every other run prints them. In this process the result is the last
// document's; with -j it is 0 when every document was signed, else -1. failed
// is set when any document failed.
int run_batches(const Options &o, const std::vector<Document> &documents, std::size_t together,
                const WorkerPlan &plan, bool &failed);

}  // namespace cli
