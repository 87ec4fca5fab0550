// Downloads a 1 GiB random file from a local nginx with HttpDownloader and
// with the curl command-line tool, alternating, and prints the median wall
// time of each, our peak memory, and last "ratio R" (ours / curl's).
// Then the whole console client (zorvath-cli beside this program) fetching
// the same file, its digest check included, against curl's plain fetch; and
// the client's check of the same number of bytes in 2,000 files with the
// digests remembered (warm) against one that hashes every file (cold).
// Usage: bench-transfer [rounds] [size in MiB]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildRun.h"
#include "ConsoleRun.h"
#include "planning/Md5.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "support/TestData.h"
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

    if (!CompareRounds("HttpDownloader vs curl", rounds, runOurs, runCurl, "ours", "curl"))
        return 1;
    std::fflush(stdout);

    const std::string client = ConsoleClientProgram(argv[0]);
    const auto digestOf = [](const std::string& path) {
        Md5Context context;
        unsigned char digest[16];
        DigestFile(path, &context, digest);
        return DigestToHex(digest);
    };
    {
        ConsoleMachine machine(server, server.BaseUrl(), {{"big.bin", digestOf((server.DocumentRoot() / "big.bin").string())}});
        const auto clientFetch = [&] {
            machine.Clear(true);
            const auto run = machine.Client(client, {});
            machine.Clear(true);
            return run;
        };
        if (!CompareRounds("console client whole fetch with digest check vs curl fetch", rounds, clientFetch, runCurl,
                           "client", "curl"))
            return 1;
    }
    std::filesystem::remove(server.DocumentRoot() / "big.bin");

    {
        const int files = 2000;
        const std::uint64_t each = size / files;
        std::vector<std::pair<std::string, std::string>> listed;
        std::mt19937_64 random(7);
        std::string bytes(each, '\0');
        for (int i = 0; i < files; ++i) {
            for (std::size_t j = 0; j + 8 <= bytes.size(); j += 8) {
                const std::uint64_t word = random();
                std::memcpy(bytes.data() + j, &word, 8);
            }
            const std::string name = "many/f" + std::to_string(i) + ".bin";
            server.Put(name, bytes);
            listed.emplace_back("many\\f" + std::to_string(i) + ".bin", Md5Of(bytes));
        }
        ConsoleMachine machine(server, server.BaseUrl(), listed);
        if (!machine.Client(client, {}).ok) {
            std::fprintf(stderr, "the first download of %d files failed\n", files);
            return 1;
        }
        const auto warm = [&] { return machine.Client(client, {}); };
        const auto cold = [&] {
            std::filesystem::remove_all(machine.Home() + "/.cache");
            return machine.Client(client, {});
        };
        std::printf("%d files of %llu KiB present\n", files, static_cast<unsigned long long>(each >> 10));
        if (!CompareRounds("check, digests remembered (warm) vs hashed (cold)", rounds, warm, cold, "warm", "cold"))
            return 1;
    }
    return 0;
}
