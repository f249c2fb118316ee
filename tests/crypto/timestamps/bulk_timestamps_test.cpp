// Timestamps in bulk: directory runs whose documents each wait on a slow
// time-stamping authority, through the real program against the local
// service, which counts the requests in flight and the connections.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/crypto_support.h"
#include "crypto/local_service.h"

namespace {

using qstest::LocalService;
using qstest::shell_quote;

struct BulkRun {
    const char *name;
    std::vector<std::string> words;    // command and options besides -i, -o and -z
    const char *mode;                  // of the service
    std::vector<std::string> service;  // its options
    std::string conf;                  // configuration lines besides the key store and tsaurl
    int documents;
    std::string line;                  // every status line starts with it
    int most_at_once;                  // the service never had more requests in flight
    int least_at_once;                 // and had this many at some moment
    int most_connections;
    bool resumed = false;              // every TLS connection after the first resumed its session
};

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(BulkTimestamps, ManyRequestsInFlightNeverMoreThanNetconcurrency) {
    const std::vector<std::string> slow = {"--latency", "0.4", "--max-requests", "1000"};
    const std::vector<std::string> tls = {"--tls-cert", qstest::tsa_pki().tls_cert, "--tls-key",
                                          qstest::tsa_pki().tls_key, "--close", "--max-requests", "1000"};
    const BulkRun runs[] = {
        {"signatures with timestamps, -j 0", {"-q", "-j", "0"}, "tsa", slow, "netconcurrency=4\n", 12,
         "0#Document signed", 4, 3, 4},
        {"document timestamps, -j 0", {"timestamp", "-j", "0"}, "tsa", slow, "netconcurrency=4\n", 12,
         "0#Document timestamped", 4, 3, 4},
        {"-j above netconcurrency is held to it", {"-q", "-j", "8"}, "tsa", slow, "netconcurrency=3\n", 9,
         "0#Document signed", 3, 2, 3},
        {"refused timestamps, each on its own line", {"-q", "-j", "0"}, "reject", slow, "", 6,
         "-1#TSA did not grant timestamp! Response status: [2] [File: ", 32, 2, 32},
        {"TLS sessions resumed on new connections", {"-q", "-j", "1"}, "tsa", tls,
         "tsacert=" + qstest::fixture("ca.pem") + "\n", 3, "0#Document signed", 1, 1, 3, true},
    };
    for (const BulkRun &run : runs) {
        SCOPED_TRACE(run.name);
        LocalService tsa(run.mode, run.service);
        qstest::TempDir dir;
        const std::string in = dir.file("in"), out = dir.file("out");
        mkdir(in.c_str(), 0755);
        mkdir(out.c_str(), 0755);
        const std::string page = qstest::read_file(qstest::fixture("one-page.pdf"));
        for (int i = 0; i < run.documents; ++i) qstest::write_file(in + "/doc" + std::to_string(i) + ".pdf", page);
        const bool https = run.resumed;
        const std::string conf =
            qstest::write_signing_config(dir, "signer.p12", "tsaurl=" + tsa.url(https ? "https" : "http") + "\n" + run.conf);

        std::vector<std::string> args = run.words;
        args.insert(args.end(), {"-i", in, "-o", out, "-z", conf});
        const auto result = qstest::run_cli(args);

        const auto lines = lines_of(result.out);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(run.documents)) << result.out;
        for (const std::string &line : lines) EXPECT_EQ(line.rfind(run.line, 0), 0u) << line;
        const auto requests = tsa.requests();
        ASSERT_EQ(requests.size(), static_cast<std::size_t>(run.documents));
        int most = 0;
        std::set<long> connections;
        for (const auto &request : requests) {
            most = std::max(most, request.in_flight);
            connections.insert(request.connection);
        }
        EXPECT_LE(most, run.most_at_once);
        EXPECT_GE(most, run.least_at_once);
        EXPECT_LE(connections.size(), static_cast<std::size_t>(run.most_connections));
        for (std::size_t i = 1; run.resumed && i < requests.size(); ++i) EXPECT_TRUE(requests[i].tls_resumed) << i;
        if (run.line[0] == '0') {
            // pdfsig validates signatures, and shows what a document timestamp covers.
            const auto sig = qstest::run_shell("pdfsig " + shell_quote(out + "/doc0.pdf") + " 2>&1");
            const bool stamp = run.words[0] == "timestamp";
            EXPECT_NE(sig.out.find(stamp ? "Total document signed" : "Signature is Valid"), std::string::npos) << sig.out;
        } else {
            EXPECT_EQ(qstest::run_shell("ls -A " + shell_quote(out)).out, "");
        }
    }
}

}  // namespace
