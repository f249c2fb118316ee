#include "cli/worker_pool.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

#include <quillseal/quillseal.h>

namespace cli {
namespace {

constexpr const char *kStagingTemplate = "quillseal-partial-worker-XXXXXX";
constexpr std::uint32_t kLongestLine = 1u << 16;
// The most documents one worker is given at once.
constexpr std::uint32_t kLargestGroup = 1u << 12;

// What a worker sends back for each document: its result, the processor time
// it spent on it and its status line.
struct RecordHead {
    std::int32_t result;
    std::uint32_t length;
    std::uint64_t cpu_ns;
};

std::uint64_t process_cpu_ns() {
    timespec now{};
    if (::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

bool write_all(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// A whole status line with one write: a pipe takes it in one piece (it is far
// below PIPE_BUF), and a file shared with other writers gets it in one piece.
void emit(const std::string &line) { write_all(STDOUT_FILENO, line.data(), line.size()); }

// Sends on a channel; a peer that is gone gives false, never SIGPIPE.
bool send_all(int fd, const void *data, std::size_t size) {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t done = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// False at the end of the channel or on any error before size bytes came.
bool receive_all(int fd, void *data, std::size_t size) {
    char *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t got = ::recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string base_name(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string one_line(std::string text) {
    for (char &ch : text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return text;
}

void replace_all(std::string &text, const std::string &from, const std::string &to) {
    if (from.empty()) return;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// A worker's own folder beside the outputs; empty when none can be made, and
// the worker then writes the outputs directly.
std::string make_staging(const std::string &output_directory) {
    std::string path = output_directory;
    if (path.empty() || path.back() != '/') path += '/';
    path += kStagingTemplate;
    const int saved = errno;
    const bool made = ::mkdtemp(path.data()) != nullptr;
    errno = saved;
    return made ? path : std::string();
}

// The folder and what a worker left in it: only files it wrote itself.
void remove_staging(const std::string &staging) {
    if (staging.empty()) return;
    const int saved = errno;
    {
        const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(staging.c_str()), &::closedir);
        const dirent *entry = nullptr;
        while (dir && (entry = ::readdir(dir.get())))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ::unlinkat(dirfd(dir.get()), entry->d_name, 0);
    }
    ::rmdir(staging.c_str());
    errno = saved;
}

enum class Published { Done, Exists, Failed };

// Moves a complete output to its name, never over a file that is there
// (another run may have written it meantime). File systems that cannot
// refuse to replace get a plain rename.
Published publish(const std::string &staged, const std::string &output) {
    if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, output.c_str(), RENAME_NOREPLACE) == 0)
        return Published::Done;
    if ((errno == EINVAL || errno == ENOSYS) && ::rename(staged.c_str(), output.c_str()) == 0)
        return Published::Done;
    const Published outcome = errno == EEXIST ? Published::Exists : Published::Failed;
    const int saved = errno;
    ::unlink(staged.c_str());
    errno = saved;
    return outcome;
}

// Where a worker writes a document: in its folder, or at the output itself.
std::string staged_path(const Document &doc, const std::string &staging) {
    return staging.empty() ? doc.output : staging + "/" + base_name(doc.output);
}

// A document whose output was written at path (result 0) or not: the output
// moved to its name, and the document's result and status line.
RecordHead settle(const Document &doc, const std::string &path, int result, const DocumentWork &work,
                  std::string &line) {
    if (result == 0 && path != doc.output) {
        errno = 0;
        const Published published = publish(path, doc.output);
        if (published == Published::Exists) {
            line = work.skipped_line(doc);
            return {0, static_cast<std::uint32_t>(line.size()), 0};
        }
        if (published == Published::Failed) result = -1;
    }
    line = work.finished_line(doc, result);
    // A failure names the file the user asked for, not the worker's folder.
    if (path != doc.output) replace_all(line, path, doc.output);
    if (line.size() > kLongestLine) line.resize(kLongestLine);
    return {result, static_cast<std::uint32_t>(line.size()), 0};
}

std::string record_of(const RecordHead &head, const std::string &line) {
    return std::string(reinterpret_cast<const char *>(&head), sizeof head) + line;
}

// The documents of one group in a worker: their records, in order, each with
// its share of the processor time the group took.
std::string work_on(const std::vector<std::uint32_t> &indices, const std::vector<Document> &documents,
                    const std::string &staging, const DocumentWork &work) {
    std::vector<Document> group;
    std::vector<std::string> paths;
    for (std::uint32_t index : indices) {
        group.push_back(documents[index]);
        paths.push_back(staged_path(group.back(), staging));
    }
    std::vector<int> results;
    const std::uint64_t cpu_before = process_cpu_ns();
    if (work.run_together) {
        errno = 0;
        results = work.run_together(group, paths);
        results.resize(group.size(), -1);
    } else {
        for (std::size_t i = 0; i < group.size(); ++i) {
            errno = 0;
            results.push_back(work.run(group[i].input, paths[i]));
        }
    }
    const std::uint64_t cpu_each = (process_cpu_ns() - cpu_before) / group.size();
    std::string records, line;
    for (std::size_t i = 0; i < group.size(); ++i) {
        RecordHead head = settle(group[i], paths[i], results[i], work, line);
        head.cpu_ns = cpu_each;
        records += record_of(head, line);
    }
    return records;
}

// One worker at a time holds the run's turn (a lock on a file the workers
// inherit; the system lets it go when its worker dies). Without that file,
// every worker just goes on.
void hold_turn(int turn, short how) {
    if (turn < 0) return;
    struct flock lock {};
    lock.l_type = how;
    lock.l_whence = SEEK_SET;
    while (::fcntl(turn, F_SETLKW, &lock) < 0 && errno == EINTR) {
    }
}

// A worker: its start in turn, then groups of documents by their indexes (a
// count, then the indexes), until the run closes the channel.
[[noreturn]] void worker_main(int channel, int turn, const std::vector<Document> &documents,
                              const std::string &staging, const DocumentWork &work) {
    if (work.started) {
        hold_turn(turn, F_WRLCK);
        work.started();
        hold_turn(turn, F_UNLCK);
    }
    std::uint32_t count = 0;
    while (receive_all(channel, &count, sizeof count) && count > 0 && count <= kLargestGroup) {
        std::vector<std::uint32_t> indices(count);
        if (!receive_all(channel, indices.data(), count * sizeof(std::uint32_t))) break;
        if (std::any_of(indices.begin(), indices.end(), [&](std::uint32_t i) { return i >= documents.size(); }))
            break;
        const std::string records = work_on(indices, documents, staging, work);
        if (!send_all(channel, records.data(), records.size())) break;
    }
    // Its folder is empty between documents; gone with the worker even when the run itself was stopped.
    remove_staging(staging);
    pdfsigning_shutdown();
    ::_exit(0);
}

using Clock = std::chrono::steady_clock;

struct Worker {
    pid_t pid = -1;
    int channel = -1;
    std::deque<std::size_t> documents;  // given and not answered yet; empty: idle
    Clock::time_point given;            // when its last answer came, or its group was given
    std::string staging;
};

class Pool {
public:
    Pool(const std::vector<Document> &documents, const std::string &output_directory, const WorkerPlan &plan,
         const DocumentWork &work)
        : documents_(documents), output_directory_(output_directory), plan_(plan), target_(plan.workers), work_(work),
          turn_(work.started ? ::memfd_create("quillseal-worker-turn", MFD_CLOEXEC) : -1) {}
    ~Pool() {
        if (turn_ >= 0) ::close(turn_);
    }
    Pool(const Pool &) = delete;
    Pool &operator=(const Pool &) = delete;

    int run();

private:
    bool next_document(std::size_t &index);
    bool next_group(std::vector<std::size_t> &group);
    void refill();
    bool start_worker();
    void give(Worker &worker, const std::vector<std::size_t> &group);
    void take_result(Worker &worker);
    void lost(Worker &worker);
    void end(Worker &worker);
    bool poll_busy();
    void refuse_rest();
    void measure(Worker &worker, const RecordHead &head);

    const std::vector<Document> &documents_;
    const std::string output_directory_;
    const WorkerPlan plan_;
    unsigned target_;  // workers wanted now
    std::uint64_t waited_ns_ = 0, worked_ns_ = 0;
    const DocumentWork &work_;
    std::vector<Worker> workers_;
    std::size_t position_ = 0;
    std::deque<std::size_t> waiting_;  // taken from the list but given to no worker yet
    int start_error_ = 0;
    bool failed_ = false;
    const int turn_;  // the file whose lock is the workers' turn to start
};

// The next document to work on; one whose output exists gets its line here.
bool Pool::next_document(std::size_t &index) {
    if (!waiting_.empty()) {
        index = waiting_.front();
        waiting_.pop_front();
        return true;
    }
    while (position_ < documents_.size()) {
        const Document &doc = documents_[position_++];
        if (output_exists(doc.output)) {
            emit(work_.skipped_line(doc));
            continue;
        }
        index = position_ - 1;
        return true;
    }
    return false;
}

// The documents a worker is given next: one, or with run_together up to
// `together`, fewer when that shares the run's documents evenly among the
// workers. The size stays for the whole run: a group costs its exchanges
// whatever its size, so the last ones are not cut smaller.
bool Pool::next_group(std::vector<std::size_t> &group) {
    group.clear();
    std::size_t most = 1;
    if (work_.run_together) {
        const std::size_t share = (documents_.size() + plan_.workers - 1) / plan_.workers;
        most = std::min<std::size_t>({std::max<std::size_t>(work_.together, 1), kLargestGroup,
                                      std::max<std::size_t>(share, 1)});
    }
    std::size_t index = 0;
    while (group.size() < most && next_document(index)) group.push_back(index);
    return !group.empty();
}

// Starts workers, up to the number asked for, while documents remain.
void Pool::refill() {
    workers_.erase(std::remove_if(workers_.begin(), workers_.end(), [](const Worker &w) { return w.pid < 0; }),
                   workers_.end());
    std::vector<std::size_t> group;
    while (workers_.size() < target_ && next_group(group)) {
        if (!start_worker()) {
            waiting_.insert(waiting_.begin(), group.begin(), group.end());
            return;
        }
        give(workers_.back(), group);
    }
}

bool Pool::start_worker() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        start_error_ = errno;
        return false;
    }
    Worker worker;
    worker.staging = make_staging(output_directory_);
    std::fflush(stdout);
    worker.pid = ::fork();
    if (worker.pid == 0) {
        ::close(ends[0]);
        for (const Worker &other : workers_)
            if (other.channel >= 0) ::close(other.channel);
        worker_main(ends[1], turn_, documents_, worker.staging, work_);
    }
    ::close(ends[1]);
    if (worker.pid < 0) {
        start_error_ = errno;
        ::close(ends[0]);
        remove_staging(worker.staging);
        return false;
    }
    worker.channel = ends[0];
    workers_.push_back(worker);
    return true;
}

// A worker gone before it got its documents ends with them.
void Pool::give(Worker &worker, const std::vector<std::size_t> &group) {
    worker.documents.assign(group.begin(), group.end());
    worker.given = Clock::now();
    std::vector<std::uint32_t> message{static_cast<std::uint32_t>(group.size())};
    for (std::size_t index : group) message.push_back(static_cast<std::uint32_t>(index));
    if (!send_all(worker.channel, message.data(), message.size() * sizeof(std::uint32_t))) lost(worker);
}

void Pool::take_result(Worker &worker) {
    RecordHead head{};
    std::string line;
    if (!receive_all(worker.channel, &head, sizeof head) || head.length > kLongestLine) {
        lost(worker);
        return;
    }
    line.resize(head.length);
    if (!receive_all(worker.channel, line.data(), line.size())) {
        lost(worker);
        return;
    }
    emit(line);
    if (head.result != 0) failed_ = true;
    measure(worker, head);
    worker.documents.pop_front();
    if (!worker.documents.empty()) return;  // more of its group to come
    std::vector<std::size_t> group;
    if (next_group(group))
        give(worker, group);
    else
        end(worker);
}

// Documents that took their workers far longer than the processor time spent
// on them were waiting (on the network, as a rule): enough workers are kept
// for the processors to stay busy meanwhile, as many as the waits call for.
// The answers of a group come together: the first takes the group's wait.
void Pool::measure(Worker &worker, const RecordHead &head) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point given = worker.given;
    worker.given = now;
    if (!plan_.grow_while_waiting || head.cpu_ns == 0) return;
    waited_ns_ += static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - given).count());
    worked_ns_ += head.cpu_ns;
    const double wanted = static_cast<double>(plan_.workers) * static_cast<double>(waited_ns_) /
                          static_cast<double>(worked_ns_);
    const unsigned most = plan_.most;
    target_ = std::max(target_, wanted >= most ? most : static_cast<unsigned>(wanted + 0.999));
}

// A worker that ended in the middle of its documents: those failed; the next
// refill starts another worker for the rest.
void Pool::lost(Worker &worker) {
    ::close(worker.channel);
    worker.channel = -1;
    int status = 0;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    worker.pid = -1;
    remove_staging(worker.staging);
    char why[160];
    if (WIFSIGNALED(status))
        std::snprintf(why, sizeof why, "killed by signal %d, %s", WTERMSIG(status), strsignal(WTERMSIG(status)));
    else
        std::snprintf(why, sizeof why, "ended with status %d", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    for (std::size_t index : worker.documents)
        emit(std::string("-1#The worker process ended before finishing this document (") + why + ") [File: " +
             one_line(documents_[index].input) + "]\n");
    worker.documents.clear();
    failed_ = true;
}

// Closes the channel, which ends an idle worker, and clears up after it.
void Pool::end(Worker &worker) {
    if (worker.channel >= 0) ::close(worker.channel);
    worker.channel = -1;
    worker.documents.clear();
    if (worker.pid > 0) {
        int status = 0;
        while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    worker.pid = -1;
    remove_staging(worker.staging);
}

// Waits for the busy workers and takes every answer or end. False when no
// worker is busy.
bool Pool::poll_busy() {
    std::vector<pollfd> watched;
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < workers_.size(); ++i) {
        if (workers_[i].documents.empty()) continue;
        watched.push_back({workers_[i].channel, POLLIN, 0});
        which.push_back(i);
    }
    if (watched.empty()) return false;
    if (::poll(watched.data(), watched.size(), -1) < 0) return true;  // a signal: look again
    for (std::size_t k = 0; k < watched.size(); ++k)
        if (watched[k].revents != 0) take_result(workers_[which[k]]);
    return true;
}

// Documents left when no worker process could be started at all.
void Pool::refuse_rest() {
    std::size_t index = 0;
    while (next_document(index)) {
        emit("-1#Cannot start a worker process: " + std::string(std::strerror(start_error_)) + " [File: " +
             one_line(documents_[index].input) + "]\n");
        failed_ = true;
    }
}

int Pool::run() {
    do {
        refill();
    } while (poll_busy());
    refuse_rest();
    for (Worker &worker : workers_) end(worker);
    return failed_ ? -1 : 0;
}

}  // namespace

bool output_exists(const std::string &output) {
    struct stat info {};
    const int saved = errno;
    const bool exists = ::lstat(output.c_str(), &info) == 0;
    errno = saved;
    return exists;
}

int run_in_workers(const std::vector<Document> &documents, const std::string &output_directory,
                   const WorkerPlan &plan, const DocumentWork &work) {
    WorkerPlan settled = plan;
    settled.most = std::max(settled.most, 1u);
    settled.workers = std::min(std::max(settled.workers, 1u), settled.most);
    std::fflush(stdout);
    return Pool(documents, output_directory, settled, work).run();
}

}  // namespace cli
