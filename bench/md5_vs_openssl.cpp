// Digests one 1 GiB file with DigestFile and with `openssl md5`, rounds
// alternating, and prints both throughputs. The last line is
// "ratio R" with R = our throughput / openssl's (median of the rounds).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "planning/Md5.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{1} << 30;
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;

bool WriteTestFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::vector<unsigned char> chunk(std::size_t{1} << 20);
    std::uint32_t x = 0x12345678u;
    for (std::size_t written = 0; written < kFileSize; written += chunk.size()) {
        for (auto& byte : chunk) {
            x = x * 1664525u + 1013904223u;
            byte = static_cast<unsigned char>(x >> 24);
        }
        if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
            ::close(fd);
            return false;
        }
    }
    return ::close(fd) == 0;
}

// Runs `openssl md5 -r path` and returns its digest text ("" on failure).
std::string OpensslDigest(const std::string& path)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execlp("openssl", "openssl", "md5", "-r", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buf[256];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.size() < 32)
        return {};
    return out.substr(0, 32);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main()
{
    std::string folder = (std::filesystem::temp_directory_path() / "bench-md5-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = folder + "/data.bin";
    std::printf("writing %zu bytes to %s\n", kFileSize, path.c_str());
    if (!WriteTestFile(path)) {
        std::perror("write");
        std::filesystem::remove_all(folder);
        return 1;
    }

    std::vector<double> ours, theirs;
    bool agree = true;
    // One untimed pass of each brings the file into the page cache.
    Md5Context context;
    unsigned char digest[16];
    if (DigestFile(path, &context, digest) != DigestFileOk || OpensslDigest(path).empty()) {
        std::fprintf(stderr, "a digest failed\n");
        std::filesystem::remove_all(folder);
        return 1;
    }
    const double mib = double(kFileSize) / (1024.0 * 1024.0);
    for (int round = 1; round <= kRounds; ++round) {
        auto start = Clock::now();
        const int result = DigestFile(path, &context, digest);
        const double ourSeconds = std::chrono::duration<double>(Clock::now() - start).count();

        start = Clock::now();
        const std::string reference = OpensslDigest(path);
        const double theirSeconds = std::chrono::duration<double>(Clock::now() - start).count();

        if (result != DigestFileOk || reference != DigestToHex(digest))
            agree = false;
        ours.push_back(mib / ourSeconds);
        theirs.push_back(mib / theirSeconds);
        std::printf("round %d: DigestFile %.1f MiB/s, openssl md5 %.1f MiB/s\n", round, ours.back(),
                    theirs.back());
    }
    std::filesystem::remove_all(folder);

    std::printf("digest %s (%s)\n", DigestToHex(digest).c_str(),
                agree ? "equal to openssl" : "DIFFERS from openssl");
    std::printf("median: DigestFile %.1f MiB/s, openssl md5 %.1f MiB/s\n", Median(ours),
                Median(theirs));
    std::printf("ratio %.3f\n", Median(ours) / Median(theirs));
    return agree ? 0 : 1;
}
