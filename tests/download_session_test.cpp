#include "run/DownloadSession.h"

#include <gtest/gtest.h>

#include "platform/WorkerThread.h"
#include "run/DownloadWindow.h"

namespace {

std::shared_ptr<PlannedFiles> PlanOf(std::size_t count, std::uint64_t size)
{
    auto plan = std::make_shared<PlannedFiles>();
    for (std::size_t i = 0; i < count; ++i)
        plan->entries.push_back(PlanEntry{"/f" + std::to_string(i), {}, size, 0, 0, 1});
    plan->totalBytes = size * count;
    plan->bytesToFetch = size * count - 3;
    plan->bytesDone = 3;
    return plan;
}

} // namespace

TEST(download_session, set_plan_publishes_the_totals_and_reset_zeroes_them)
{
    DownloadSession session;
    session.SetPlan(PlanOf(PlanCapacity + 500, 1ull << 33)); // 8 GiB each fits
    EXPECT_EQ(session.fileCount.load(), static_cast<int>(PlanCapacity + 500));
    EXPECT_EQ(session.totalBytes.load(), (PlanCapacity + 500) << 33);
    EXPECT_EQ(session.bytesToFetch.load(), ((PlanCapacity + 500) << 33) - 3);
    EXPECT_EQ(session.bytesDone.load(), 3u);

    session.ResetPlan();
    EXPECT_EQ(session.Plan(), nullptr);
    EXPECT_EQ(session.fileCount.load(), 0);
    EXPECT_EQ(session.totalBytes.load(), 0u);
    EXPECT_EQ(session.bytesToFetch.load(), 0u);
    EXPECT_EQ(session.bytesDone.load(), 0u);
}

TEST(download_session, a_run_keeps_its_plan_when_the_session_drops_it)
{
    DownloadSession session;
    session.SetPlan(PlanOf(2, 10));
    const std::shared_ptr<const PlannedFiles> held = session.Plan();
    session.DropPlan();
    EXPECT_EQ(session.Plan(), nullptr);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->entries.at(1).path, "/f1");
    EXPECT_EQ(session.fileCount.load(), 2); // the totals stay for the summary
}

TEST(download_session, a_second_download_run_is_refused_while_the_first_runs)
{
    DownloadSession session;
    std::mutex gate;
    gate.lock();
    auto first = WorkerThread::Create([&] { std::lock_guard hold(gate); });
    ASSERT_TRUE(session.PublishDownloadThread(first));
    first->Run();
    auto second = WorkerThread::Create([] {});
    EXPECT_FALSE(session.PublishDownloadThread(second));
    EXPECT_EQ(session.DownloadThread(), first);

    gate.unlock();
    first->Wait();
    EXPECT_TRUE(session.PublishDownloadThread(second));
    EXPECT_EQ(session.DownloadThread(), second);
}

TEST(download_session, reset_for_test_clears_every_piece_of_run_state)
{
    DownloadSession session;
    session.environment.folderStore = reinterpret_cast<IFolderStore*>(&session);
    session.endRoutine = [](EndReason) { std::abort(); };
    session.stepTrace.Append("SPE");
    session.pause.Request();
    session.SetPlan(PlanOf(1, 5));
    session.lastPercent = 40;
    session.folderFromRegistry = 1;
    session.checkFinished = 1;
    session.folderDefaulted = 1;
    session.installerReady = 1;
    session.activeCheckRuns = 2;
    session.currentEntry = 7;
    session.SetDownloadFolder("/games/");
    session.SetInstallerPath("/games/setup.sh");
    session.SetListVersion("1.2");
    session.SetFileBaseUrl("http://x/");
    CheckResult check;
    check.outcome = CheckOutcome::NoSpace;
    session.SetLastCheck(check);
    session.RecordFailure(FileOutcome{3, "/games/a", FileResult::NetworkFailed});
    session.NewProgress();
    auto thread = WorkerThread::Create([] {});
    session.PublishCheckThread(thread);
    session.PublishDownloadThread(thread);

    session.ResetForTest();

    EXPECT_EQ(session.environment.folderStore, nullptr);
    EXPECT_EQ(session.endRoutine.load(), nullptr);
    EXPECT_EQ(session.stepTrace.Text(), "");
    EXPECT_FALSE(session.pause.Requested());
    EXPECT_EQ(session.Plan(), nullptr);
    EXPECT_EQ(session.lastPercent.load(), 0);
    EXPECT_EQ(session.folderFromRegistry.load(), 0);
    EXPECT_EQ(session.checkFinished.load(), 0);
    EXPECT_EQ(session.folderDefaulted.load(), 0);
    EXPECT_EQ(session.installerReady.load(), 0);
    EXPECT_EQ(session.activeCheckRuns.load(), 0);
    EXPECT_EQ(session.currentEntry.load(), -1);
    EXPECT_EQ(session.DownloadFolder(), "");
    EXPECT_EQ(session.InstallerPath(), "");
    EXPECT_EQ(session.ListVersion(), "");
    EXPECT_EQ(session.FileBaseUrl(), "");
    EXPECT_EQ(session.LastCheck().outcome, CheckOutcome::NoWindow);
    EXPECT_EQ(session.Failures(), 0);
    EXPECT_EQ(session.LastFailure().entry, -1);
    EXPECT_EQ(session.DownloadThread(), nullptr);
    EXPECT_EQ(session.CheckThread(), nullptr);
}
