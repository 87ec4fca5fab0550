#include "cli/RetryPolicy.h"

#include <gtest/gtest.h>

// Each step is one failure: on which entry, with how many bytes done, and
// what the client then does.
struct Step {
    int entry;
    std::uint64_t bytesDone;
    bool giveUp;
    int inRow;
    double wait;
};

void Replay(RetryPolicy policy, const std::vector<Step>& steps, const char* label)
{
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const RetryPolicy::Decision decision = policy.OnFailure(step.entry, step.bytesDone);
        EXPECT_EQ(decision.giveUp, step.giveUp) << label << " step " << i;
        EXPECT_EQ(decision.failuresInRow, step.inRow) << label << " step " << i;
        EXPECT_DOUBLE_EQ(decision.waitSeconds, step.wait) << label << " step " << i;
    }
}

TEST(retry_policy, wait_doubles_up_to_five_minutes_and_gives_up_after_the_retries)
{
    Replay(RetryPolicy(3, 5.0), {{0, 100, false, 1, 5}, {0, 100, false, 2, 10}, {0, 100, false, 3, 20},
                                 {0, 100, true, 4, 40}},
           "three retries");
    Replay(RetryPolicy(10, 40.0), {{2, 0, false, 1, 40}, {2, 0, false, 2, 80}, {2, 0, false, 3, 160},
                                   {2, 0, false, 4, 300}, {2, 0, false, 5, 300}},
           "capped at 300 s");
    // A first wait above the cap is kept as asked, never shortened.
    Replay(RetryPolicy(5, 600.0), {{1, 0, false, 1, 600}, {1, 0, false, 2, 600}}, "long first wait");
    Replay(RetryPolicy(0, 5.0), {{0, 0, true, 1, 5}}, "no retries");
}

TEST(retry_policy, count_starts_again_when_bytes_arrived_or_another_file_failed)
{
    Replay(RetryPolicy(2, 1.0),
           {{0, 1000, false, 1, 1}, {0, 1000, false, 2, 2},
            // Bytes arrived since the last failure: a slow line that moves on.
            {0, 5000, false, 1, 1}, {0, 5000, false, 2, 2}, {0, 5000, true, 3, 4}},
           "progress resets");
    Replay(RetryPolicy(2, 1.0), {{0, 0, false, 1, 1}, {0, 0, false, 2, 2}, {1, 0, false, 1, 1}, {1, 0, false, 2, 2}},
           "another file resets");
    // Bytes taken back (a wrong digest) are no progress.
    Replay(RetryPolicy(1, 1.0), {{0, 9000, false, 1, 1}, {0, 4000, true, 2, 2}}, "bytes taken back");
}
