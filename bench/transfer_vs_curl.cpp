// Downloads a 1 GiB random file from a local nginx with HttpDownloader and
// with the curl command-line tool, alternating, and prints the median wall
// time of each, our peak memory, and last "ratio R" (ours / curl's).
// Usage: bench-transfer [rounds] [size in MiB]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildRun.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "transfer/HttpDownloader.h"

namespace {


void WriteRandomFile(const std::string& path, std::uint64_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(2026);
    std::vector<std::uint64_t> chunk(1 << 19); // 4 MiB
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : chunk)
            word = random();
        const auto count = std::min<std::uint64_t>(size - written, chunk.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(count));
        written += count;
    }
    out.close();
    // Let the source reach the disk now, not during the first measured round.
    sync();
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::uint64_t size = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024) << 20;

    NginxServer server;
    TempDir folder;
    WriteRandomFile((server.DocumentRoot() / "big.bin").string(), size);
    const auto url = server.BaseUrl() + "big.bin";
    const auto target = folder.Folder() + "big.bin";
    std::printf("file %llu MiB, %d rounds\n", static_cast<unsigned long long>(size >> 20), rounds);

    const auto runOurs = [&] {
        std::filesystem::remove(target);
        const auto run = InChild([&] {
            HttpDownloader downloader;
            return downloader.Download(nullptr, url, target) == DownloadOk && std::filesystem::file_size(target) == size;
        });
        std::filesystem::remove(target);
        return run;
    };
    const auto runCurl = [&] {
        std::filesystem::remove(target);
        const auto run = InChild([&] {
            execl("/usr/bin/curl", "curl", "-s", "-f", "-o", target.c_str(), url.c_str(), static_cast<char*>(nullptr));
            return false;
        });
        std::filesystem::remove(target);
        return run;
    };

    // One unmeasured pass of each warms the page cache and the server.
    runOurs();
    runCurl();

    std::vector<double> ours;
    std::vector<double> theirs;
    long peakKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        // Alternate who goes first so that neither always follows the other.
        Run mine;
        Run curl;
        if (round % 2 == 0) {
            mine = runOurs();
            curl = runCurl();
        } else {
            curl = runCurl();
            mine = runOurs();
        }
        if (!mine.ok || !curl.ok) {
            std::fprintf(stderr, "round %d failed (ours %d, curl %d)\n", round, mine.ok, curl.ok);
            return 1;
        }
        ours.push_back(mine.seconds);
        theirs.push_back(curl.seconds);
        peakKiB = std::max(peakKiB, mine.peakKiB);
        std::printf("round %d: ours %.3f s, curl %.3f s, our peak %.1f MiB\n", round + 1, mine.seconds, curl.seconds,
            mine.peakKiB / 1024.0);
        std::fflush(stdout);
    }
    const double ourMedian = Median(ours);
    const double curlMedian = Median(theirs);
    std::printf("median ours %.3f s (%.0f MiB/s), curl %.3f s (%.0f MiB/s)\n", ourMedian, (size >> 20) / ourMedian,
        curlMedian, (size >> 20) / curlMedian);
    std::printf("peak memory ours %.1f MiB\n", peakKiB / 1024.0);
    std::printf("ratio %.3f\n", ourMedian / curlMedian);
    return 0;
}
