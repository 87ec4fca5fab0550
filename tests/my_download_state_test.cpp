#include "run/MyDownloadState.h"

#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "run/DownloadSession.h"
#include "run/SpeedMeter.h"
#include "support/RecordingWindow.h"

namespace {

constexpr std::uint64_t MiB = 1048576;

// A session with a recording window and bar, and a clock the test moves.
struct Reporter {
    RecordingWindow window;
    RecordingProgressBar bar;
    std::uint32_t tick = 0;
    MyDownloadState state{[this] { return tick; }};

    Reporter()
    {
        g_downloadSession.ResetForTest();
        g_downloadSession.mainWindow = &window;
        g_downloadSession.progressBar = &bar;
    }
    ~Reporter() { g_downloadSession.ResetForTest(); }
};

struct SpeedCase {
    const char* name;
    std::uint32_t beginTick;
    std::uint32_t blockTick;
    std::uint64_t block;
    std::uint64_t doneBefore;
    std::uint64_t total;
    std::uint64_t toFetch;
    int lastPercentBefore;
    const char* status;  // nullptr: the status line is left alone
    int barMovedTo;      // -1: the bar is not asked to move
    int lastPercentAfter;
};

const SpeedCase kSpeedCases[] = {
    {"one_and_a_half_kib_per_second_reads_below_one", 0, 1000, 1536, 0, 100 * MiB, 100 * MiB, 0,
     "速度:<1KB/s,  0MB/100MB", -1, 0},
    {"below_one_kib_per_second_shows_nothing", 0, 1000, 900, 5 * MiB, 100 * MiB, 100 * MiB, 0, nullptr, -1, 0},
    {"exactly_1024_kib_per_second_stays_in_kib", 0, 1000, MiB, 0, 100 * MiB, 100 * MiB, 0,
     "速度:1024KB/s,  1MB/100MB", 1, 1},
    {"one_and_a_half_mib_per_second", 0, 1000, 1572864, 0, 100 * MiB, 100 * MiB, 0,
     "速度:1.5MB/s,  1MB/100MB", 1, 1},
    {"half_a_mib_in_half_a_second_at_ten_percent", 0, 500, 512 * 1024, 10 * MiB - 512 * 1024, 100 * MiB,
     100 * MiB, 3, "速度:1024KB/s,  10MB/100MB", 10, 10},
    {"same_percent_does_not_touch_the_bar", 0, 500, 512 * 1024, 10 * MiB - 512 * 1024, 100 * MiB, 100 * MiB,
     10, "速度:1024KB/s,  10MB/100MB", -1, 10},
    {"tick_count_wrapping_in_between", 0xFFFFFF00u, 0x000000F4u, 512 * 1024, 0, 100 * MiB, 100 * MiB, 0,
     "速度:1024KB/s,  0MB/100MB", -1, 0},
    {"nothing_left_to_fetch_shows_nothing", 0, 1000, MiB, 0, 100 * MiB, 0, 0, nullptr, -1, 0},
    {"single_precision_rounds_a_hair_below_100_up", 0, 1000, MiB, (1ull << 30) - 1 - MiB, 1ull << 30,
     1ull << 30, 50, "速度:1024KB/s,  1023MB/1024MB", 100, 100},
    {"past_the_total_keeps_the_bar_but_records_the_percent", 0, 1000, MiB, 200 * MiB, 100 * MiB, 100 * MiB, 100,
     "速度:1024KB/s,  201MB/100MB", -1, 201},
};

void PrintTo(const SpeedCase& c, std::ostream* os)
{
    *os << c.name;
}

class SpeedAndPercent : public testing::TestWithParam<SpeedCase> {};

TEST_P(SpeedAndPercent, block_report)
{
    const SpeedCase& c = GetParam();
    Reporter r;
    g_downloadSession.bytesDone = c.doneBefore;
    g_downloadSession.totalBytes = c.total;
    g_downloadSession.bytesToFetch = c.toFetch;
    g_downloadSession.lastPercent = c.lastPercentBefore;

    r.tick = c.beginTick;
    r.state.OnBegin(c.total, 0);
    r.tick = c.blockTick;
    r.state.OnProgress(c.total, c.block);

    EXPECT_EQ(g_downloadSession.bytesDone.load(), c.doneBefore + c.block);
    if (c.status != nullptr) {
        EXPECT_EQ(r.window.Text(IDC_STATUS), c.status);
    } else {
        EXPECT_TRUE(r.window.Events().empty());
    }
    if (c.barMovedTo >= 0) {
        EXPECT_EQ(r.bar.Accepted(), std::vector<int>{c.barMovedTo});
    } else {
        EXPECT_TRUE(r.bar.Accepted().empty());
    }
    EXPECT_EQ(g_downloadSession.lastPercent.load(), c.lastPercentAfter);
}

INSTANTIATE_TEST_SUITE_P(my_download_state, SpeedAndPercent, testing::ValuesIn(kSpeedCases),
                         [](const testing::TestParamInfo<SpeedCase>& info) { return info.param.name; });

TEST(my_download_state, the_line_is_refreshed_a_few_times_a_second_at_most)
{
    Reporter r;
    g_downloadSession.totalBytes = 100 * MiB;
    g_downloadSession.bytesToFetch = 100 * MiB;
    r.state.OnBegin(0, 0);
    r.tick = 1000;
    r.state.OnProgress(0, MiB);
    const auto eventsAfterFirst = r.window.Events().size();
    r.tick = 1000 + MyDownloadState::kRefreshMs - 1;
    r.state.OnProgress(0, MiB);

    EXPECT_EQ(r.window.Events().size(), eventsAfterFirst);
    EXPECT_EQ(r.window.Text(IDC_STATUS), "速度:1024KB/s,  1MB/100MB");
    EXPECT_EQ(g_downloadSession.bytesDone.load(), 2 * MiB);

    // Once the refresh time has passed the line shows what had fully come
    // in before this moment: 2 MiB in 1.249 s.
    r.tick = 1500;
    r.state.OnProgress(0, 512 * 1024);
    EXPECT_EQ(r.window.Text(IDC_STATUS), "速度:1.6MB/s,  2MB/100MB");
}

// A line giving 15 MB/s in bursts: 512 KiB blocks that arrive within one
// millisecond of each other, then a pause. The reading is the line's speed,
// not the speed of a block (which would read 500 MB/s).
TEST(my_download_state, bursts_read_as_the_speed_of_the_line)
{
    Reporter r;
    g_downloadSession.totalBytes = 1024 * MiB;
    g_downloadSession.bytesToFetch = 1024 * MiB;
    r.state.OnBegin(0, 0);
    constexpr std::uint64_t kBlock = 512 * 1024;
    constexpr double kLineBytesPerSecond = 15.0 * MiB;
    std::uint64_t sent = 0;
    for (int burst = 0; burst < 20; ++burst) {
        // Every 200 ms the line delivers 3 MiB as six blocks, 1 ms apart.
        for (int block = 0; block < 6; ++block) {
            r.tick = static_cast<std::uint32_t>(200 * (burst + 1) + block);
            r.state.OnProgress(0, kBlock);
            sent += kBlock;
        }
        if (burst >= 10) {
            const std::string status = r.window.Text(IDC_STATUS);
            double shown = 0;
            ASSERT_EQ(std::sscanf(status.c_str(), "速度:%lfMB/s", &shown), 1) << status;
            EXPECT_NEAR(shown * MiB, kLineBytesPerSecond, 0.15 * kLineBytesPerSecond) << status;
        }
    }
    EXPECT_EQ(g_downloadSession.bytesDone.load(), sent);
}

// A table of readings as samples come in, on a clock that wraps during the
// run: each reading covers the last two seconds whose bytes are all in.
TEST(speed_meter, reads_the_last_two_whole_seconds)
{
    const std::uint32_t start = 0xFFFFFC00u;
    SpeedMeter meter;
    EXPECT_EQ(meter.BytesPerSecond(), 0.0);
    meter.Reset(start, 0);
    struct Step {
        std::uint32_t at;
        std::uint64_t bytes;
        double reads;
    };
    const Step steps[] = {
        {1000, 1000, 1000.0},   // the first sample after the start reads alone
        {2000, 11000, 1000.0},  // the newest moment is left out
        {2000, 12000, 1000.0},  // another block of the same moment
        {3000, 21000, 6000.0},  // 12000 over the first two seconds
        {4000, 31000, 10000.0}, // the slow first second has left the window
    };
    for (const Step& step : steps) {
        meter.Sample(start + step.at, step.bytes);
        EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), step.reads) << "at " << step.at;
    }
}

// nginx paces a limited transfer in bursts: two 512 KiB blocks at the same
// moment once a second. Every reading is the line's 1 MiB/s, wherever in a
// burst it is taken.
TEST(speed_meter, paced_bursts_read_as_the_paced_rate)
{
    SpeedMeter meter;
    meter.Reset(0, 0);
    std::uint64_t bytes = 0;
    for (std::uint32_t second = 1; second <= 8; ++second) {
        for (int block = 0; block < 2; ++block) {
            bytes += 512 * 1024;
            meter.Sample(second * 1000 + 10, bytes);
            if (second >= 4) {
                EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 1048576.0) << second << "." << block;
            }
        }
    }
}

TEST(my_download_state, pause_request_holds_until_the_next_begin)
{
    Reporter r;
    EXPECT_EQ(r.state.ShouldStop(), 0);
    r.state.RequestStop();
    EXPECT_EQ(r.state.ShouldStop(), 1);
    r.state.OnProgress(0, 1);
    EXPECT_EQ(r.state.ShouldStop(), 1);
    r.state.OnBegin(0, 0);
    EXPECT_EQ(r.state.ShouldStop(), 0);
}

TEST(my_download_state, monotonic_tick_moves_forward_in_milliseconds)
{
    const std::uint32_t first = MonotonicTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::uint32_t elapsed = MonotonicTickCount() - first;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
}

} // namespace
