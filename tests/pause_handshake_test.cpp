#include "run/PauseHandshake.h"

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace {

constexpr auto kGenerous = std::chrono::seconds(20);

// A resume that lands after the pause flag went up but before the run parked
// must not be lost: the run then does not park at all.
TEST(pause_handshake, resume_before_park_is_not_lost)
{
    PauseHandshake pause;
    pause.Request();
    EXPECT_TRUE(pause.Resume());
    auto parked = std::async(std::launch::async, [&] { pause.ParkWhileRequested(); });
    EXPECT_EQ(parked.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(pause.Parked());
}

TEST(pause_handshake, park_lasts_until_resume)
{
    PauseHandshake pause;
    auto parked = std::async(std::launch::async, [&] { pause.RequestAndPark(); });
    while (!pause.Parked())
        std::this_thread::yield();
    EXPECT_TRUE(pause.Requested());
    EXPECT_EQ(parked.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_TRUE(pause.Resume());
    EXPECT_EQ(parked.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(pause.Requested());
}

TEST(pause_handshake, resume_without_pause_reports_nothing_to_resume)
{
    PauseHandshake pause;
    EXPECT_FALSE(pause.Resume());
    pause.ParkWhileRequested(); // returns at once: nothing was asked
    EXPECT_FALSE(pause.Parked());
}

// Many rounds of a failing run that parks and a user who resumes as soon as
// the flag shows, in every interleaving the scheduler gives: every round must
// end (a lost wake-up would hang one for good).
TEST(pause_handshake, every_resume_wakes_the_run)
{
    PauseHandshake pause;
    constexpr int kRounds = 2000;
    auto worker = std::async(std::launch::async, [&] {
        for (int i = 0; i < kRounds; ++i)
            pause.RequestAndPark();
    });
    int resumed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (resumed < kRounds && std::chrono::steady_clock::now() < deadline) {
        if (pause.Resume())
            ++resumed;
        else
            std::this_thread::yield();
    }
    EXPECT_EQ(resumed, kRounds);
    EXPECT_EQ(worker.wait_for(kGenerous), std::future_status::ready);
}

} // namespace

namespace {

// Continue clicked and at once pause clicked again: the parked run still
// wakes for the first click, and parks again only at its next pause point.
TEST(pause_handshake, a_pause_right_after_a_resume_does_not_swallow_it)
{
    PauseHandshake pause;
    auto parked = std::async(std::launch::async, [&] { pause.RequestAndPark(); });
    while (!pause.Parked())
        std::this_thread::yield();
    EXPECT_TRUE(pause.Resume());
    pause.Request();
    EXPECT_EQ(parked.wait_for(kGenerous), std::future_status::ready);
    EXPECT_TRUE(pause.Requested());
}

} // namespace
