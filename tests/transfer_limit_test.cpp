#include "transfer/TransferEngine.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/NginxServer.h"
#include "support/TestData.h"

namespace {

using Clock = std::chrono::steady_clock;

// When each block of every job arrived, and how long it was.
struct Arrival {
    Clock::time_point at;
    std::size_t bytes;
};

class TimingSink : public ITransferSink {
public:
    explicit TimingSink(std::vector<Arrival>& arrivals) : m_arrivals(arrivals) {}
    void OnBegin(std::uint64_t, std::uint64_t) override {}
    bool OnBlock(const char*, std::size_t size) override
    {
        m_arrivals.push_back({Clock::now(), size});
        received += size;
        return true;
    }
    void OnEnd(DownloadState state) override { result = state; }

    std::uint64_t received = 0;
    DownloadState result = DownloadFileError;

private:
    std::vector<Arrival>& m_arrivals;
};

// Bytes per second over the last window of the run: the blocks that arrived
// within it, over its length.
double RateOverLast(const std::vector<Arrival>& arrivals, std::chrono::seconds window)
{
    const auto end = arrivals.back().at;
    std::uint64_t bytes = 0;
    for (const Arrival& arrival : arrivals) {
        if (arrival.at > end - window)
            bytes += arrival.bytes;
    }
    return static_cast<double>(bytes) / std::chrono::duration<double>(window).count();
}

TEST(TransferLimit, jobs_together_hold_the_limit_over_the_last_ten_seconds)
{
    constexpr std::uint64_t kLimit = 4 * 1024 * 1024;
    constexpr int kFiles = 4;
    constexpr std::size_t kFileSize = 16 * 1024 * 1024; // 64 MiB in all: 16 s at the limit
    NginxServer server;
    const std::string content = RandomBytes(kFileSize, 11);
    for (int i = 0; i < kFiles; ++i)
        server.Put("f" + std::to_string(i) + ".bin", content);

    TransferEngineOptions options;
    options.connections = 6;
    options.maxBytesPerSecond = kLimit;
    TransferEngine engine(options);
    std::vector<Arrival> arrivals;
    std::vector<TimingSink> sinks(kFiles, TimingSink(arrivals));
    for (int i = 0; i < kFiles; ++i)
        engine.Add({server.BaseUrl() + "f" + std::to_string(i) + ".bin", 0, kFileSize}, sinks[i]);
    const auto started = Clock::now();
    engine.Run();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    for (const TimingSink& sink : sinks) {
        EXPECT_EQ(sink.result, DownloadOk);
        EXPECT_EQ(sink.received, kFileSize);
    }
    ASSERT_FALSE(arrivals.empty());
    const double rate = RateOverLast(arrivals, std::chrono::seconds(10));
    std::printf("limit %.0f KiB/s: last 10 s at %.0f KiB/s, whole run %.0f KiB/s (%.1f s)\n",
                static_cast<double>(kLimit) / 1024, rate / 1024,
                static_cast<double>(kFiles * kFileSize) / seconds / 1024, seconds);
    EXPECT_GE(rate, 0.9 * kLimit);
    EXPECT_LE(rate, 1.1 * kLimit);
}

} // namespace
