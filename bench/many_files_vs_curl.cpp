// 1,000 small files (1-12 KB) from a local nginx behind a proxy that adds a
// 20 ms round trip (and one more per new connection): TransferEngine with 6
// connections against `curl --parallel --parallel-max 8` through the same
// proxy, alternating; then the size queries of all files (ours: GET abandoned
// after the headers; curl: HEAD, -I). Prints each round, the medians, our
// peak memory, and "ratio R" (ours / curl's) for both. Last, the peak memory
// of one 32 MiB file per connection fetched at once without the proxy.
// Then the whole console client (zorvath-cli beside this program, lists and
// files through the same proxy): a fresh download against curl's fetch, and
// a check of the folder with every file present (digests remembered from
// the download) against curl's size queries; its peak memory with it.
// Usage: bench-many-files [rounds] [files] [round trip ms] [our connections]

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildRun.h"
#include "ConsoleRun.h"
#include "support/LatencyProxy.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "transfer/FileTransferSink.h"
#include "transfer/TransferEngine.h"

namespace {


// The proxy in a child process of its own; its port comes back through a pipe.
struct ProxyProcess {
    pid_t pid = -1;
    std::string url;

    explicit ProxyProcess(int roundTripMs)
    {
        int fds[2];
        if (pipe(fds) != 0)
            std::exit(1);
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            LatencyProxy proxy(roundTripMs);
            const auto port = proxy.Port();
            if (write(fds[1], &port, sizeof port) != sizeof port)
                _exit(1);
            close(fds[1]);
            for (;;)
                pause();
        }
        close(fds[1]);
        std::uint16_t port = 0;
        if (read(fds[0], &port, sizeof port) != sizeof port)
            std::exit(1);
        close(fds[0]);
        url = "http://127.0.0.1:" + std::to_string(port);
    }
    ~ProxyProcess()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

bool FetchAll(const std::vector<std::string>& urls, const std::vector<std::string>& targets,
    const std::vector<std::size_t>& sizes, const std::string& proxy, int connections)
{
    TransferEngineOptions options;
    options.connections = connections;
    options.proxy = proxy;
    TransferEngine engine(options);
    std::vector<std::unique_ptr<FileTransferSink>> sinks;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        sinks.push_back(std::make_unique<FileTransferSink>());
        sinks.back()->OpenAtBegin(targets[i]);
        engine.Add({urls[i]}, *sinks.back());
    }
    engine.Run();
    for (std::size_t i = 0; i < urls.size(); ++i) {
        if (sinks[i]->Result() != DownloadOk || std::filesystem::file_size(targets[i]) != sizes[i])
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    const int roundTripMs = argc > 3 ? std::atoi(argv[3]) : 20;
    const int OurConnections = argc > 4 ? std::max(1, std::atoi(argv[4])) : 6;

    NginxServer server;
    ProxyProcess proxy(roundTripMs);
    TempDir folder;
    std::mt19937 random(2026);
    std::vector<std::string> urls;
    std::vector<std::pair<std::string, std::string>> listed;
    std::vector<std::string> targets;
    std::vector<std::size_t> sizes;
    std::string curlFetch;
    std::string curlHead;
    for (int i = 0; i < count; ++i) {
        const std::size_t size = 1024 + random() % (11 * 1024 + 1);
        const auto name = "d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".bin";
        const std::string bytes = RandomBytes(size, static_cast<unsigned>(i));
        server.Put(name, bytes);
        listed.emplace_back("d" + std::to_string(i % 10) + "\\f" + std::to_string(i) + ".bin", Md5Of(bytes));
        urls.push_back(server.BaseUrl() + name);
        targets.push_back(folder.Folder() + "f" + std::to_string(i) + ".bin");
        sizes.push_back(size);
        curlFetch += "url = \"" + urls.back() + "\"\noutput = \"" + targets.back() + "\"\n";
        curlHead += "url = \"" + urls.back() + "\"\noutput = \"/dev/null\"\n";
    }
    const auto fetchConfig = folder.Write("fetch.curlrc", curlFetch);
    const auto headConfig = folder.Write("head.curlrc", curlHead);
    const auto clearTargets = [&] {
        for (const auto& target : targets)
            std::filesystem::remove(target);
    };
    std::printf("%d files of 1-12 KB, proxy round trip %d ms, %d rounds; ours %d connections, curl --parallel-max 8\n",
        count, roundTripMs, rounds, OurConnections);

    const auto ourFetch = [&] {
        clearTargets();
        return InChild([&] { return FetchAll(urls, targets, sizes, proxy.url, OurConnections); });
    };
    const auto curlFetchRun = [&] {
        clearTargets();
        return RunProgram({"/usr/bin/curl", "-s", "--no-progress-meter", "-f", "--parallel", "--parallel-max", "8", "--proxy", proxy.url,
            "--noproxy", "", "-K", fetchConfig});
    };
    const auto ourSizes = [&] {
        return InChild([&] {
            TransferEngineOptions options;
            options.connections = OurConnections;
            options.proxy = proxy.url;
            TransferEngine engine(options);
            const auto answers = engine.QuerySizes(urls);
            for (std::size_t i = 0; i < answers.size(); ++i) {
                if (answers[i].state != DownloadOk || answers[i].size != sizes[i])
                    return false;
            }
            return true;
        });
    };
    const auto curlSizes = [&] {
        return RunProgram({"/usr/bin/curl", "-s", "--no-progress-meter", "-f", "-I", "--parallel", "--parallel-max", "8", "--proxy", proxy.url,
            "--noproxy", "", "-K", headConfig});
    };

    struct Pair {
        const char* name;
        std::function<Run()> ours;
        std::function<Run()> curl;
    };
    ConsoleMachine machine(server, server.BaseUrl(), listed);
    const std::string client = ConsoleClientProgram(argv[0]);
    const std::vector<std::string> clientArgs{"--connections", std::to_string(OurConnections)};
    const auto clientDownload = [&] {
        machine.Clear(true);
        return machine.Client(client, clientArgs, proxy.url);
    };
    const auto clientCheck = [&] {
        // Every file present from the download before, digests remembered.
        return machine.Client(client, clientArgs, proxy.url);
    };
    const std::vector<Pair> pairs = {{"fetch", ourFetch, curlFetchRun},
                                     {"size queries", ourSizes, curlSizes},
                                     {"console client download", clientDownload, curlFetchRun},
                                     {"console client check, all present", clientCheck, curlSizes}};
    for (const auto& pair : pairs) {
        if (!CompareRounds(pair.name, rounds, pair.ours, pair.curl, "ours", "curl"))
            return 1;
    }
    clearTargets();

    // Memory with large bodies: as many 32 MiB files at once as connections, no proxy.
    std::vector<std::string> bigUrls;
    std::vector<std::string> bigTargets;
    std::vector<std::size_t> bigSizes;
    for (int i = 0; i < OurConnections; ++i) {
        const std::size_t size = std::size_t{32} << 20;
        server.Put("big" + std::to_string(i) + ".bin", RandomBytes(size, 100 + static_cast<unsigned>(i)));
        bigUrls.push_back(server.BaseUrl() + "big" + std::to_string(i) + ".bin");
        bigTargets.push_back(folder.Folder() + "big" + std::to_string(i) + ".bin");
        bigSizes.push_back(size);
    }
    const auto big = InChild([&] { return FetchAll(bigUrls, bigTargets, bigSizes, "", OurConnections); });
    std::printf("%d files of 32 MiB at once: %s, %.3f s, our peak %.1f MiB\n", OurConnections, big.ok ? "ok" : "FAILED", big.seconds,
        big.peakKiB / 1024.0);
    return big.ok ? 0 : 1;
}
