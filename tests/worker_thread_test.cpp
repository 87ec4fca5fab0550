#include "platform/WorkerThread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

void WaitUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

TEST(worker_thread, resume_wakes_a_parked_worker)
{
    std::atomic<int> stage{0};
    auto worker = WorkerThread::Start([&] {
        stage = 1;
        WorkerThread::Current()->SuspendSelf();
        stage = 2;
    });
    WaitUntil([&] { return worker->IsSuspended(); });
    EXPECT_EQ(stage.load(), 1);
    EXPECT_TRUE(worker->Resume());
    worker->Wait();
    EXPECT_EQ(stage.load(), 2);
}

TEST(worker_thread, resume_before_the_worker_parks_has_no_effect)
{
    std::atomic<bool> mayPark{false};
    auto worker = WorkerThread::Start([&] {
        while (!mayPark)
            std::this_thread::yield();
        WorkerThread::Current()->SuspendSelf();
    });
    EXPECT_FALSE(worker->Resume()); // not parked yet: lost, as a resume of a running thread is
    mayPark = true;
    WaitUntil([&] { return worker->IsSuspended(); });
    EXPECT_FALSE(worker->Finished());
    EXPECT_TRUE(worker->Resume());
    worker->Wait();
    EXPECT_TRUE(worker->Finished());
}

TEST(worker_thread, created_handle_runs_only_when_told)
{
    std::atomic<bool> ran{false};
    auto worker = WorkerThread::Create([&] { ran = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(ran.load());
    worker->Run();
    worker->Wait();
    EXPECT_TRUE(ran.load());
}

// The hook comes after the procedure, with the thread already finished.
TEST(worker_thread, the_finished_hook_sees_the_thread_finished)
{
    static std::atomic<int> calls{0};
    static std::atomic<bool> sawFinished{false};
    WorkerThread::SetFinishedHook([](WorkerThread& thread) {
        sawFinished = thread.Finished();
        ++calls;
    });
    auto worker = WorkerThread::Start([] {});
    worker->Wait();
    for (int i = 0; i < 2000 && calls.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    WorkerThread::SetFinishedHook(nullptr);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(sawFinished.load());
}
