#include "planning/DownloadSession.h"

#include <gtest/gtest.h>

TEST(download_session, reset_plan_gives_an_empty_plan_and_zero_counters)
{
    DownloadSession session;
    session.ResetPlan();
    session.plan->push_back(PlanEntry{"/a", {}, 10, 0, 0, 1});
    session.fileCount = 1;
    session.totalBytes = 10;
    session.bytesToFetch = 10;
    session.bytesDone = 3;

    session.ResetPlan();

    ASSERT_NE(session.plan, nullptr);
    EXPECT_TRUE(session.plan->empty());
    EXPECT_GE(session.plan->capacity(), PlanCapacity);
    EXPECT_EQ(session.fileCount.load(), 0);
    EXPECT_EQ(session.totalBytes.load(), 0u);
    EXPECT_EQ(session.bytesToFetch.load(), 0u);
    EXPECT_EQ(session.bytesDone.load(), 0u);
}

TEST(download_session, plan_holds_more_than_the_reserved_records)
{
    DownloadSession session;
    session.ResetPlan();
    for (std::size_t i = 0; i < PlanCapacity + 500; ++i)
        session.plan->push_back(PlanEntry{"/f" + std::to_string(i), {}, 1ull << 33, 0, 0, 1});
    EXPECT_EQ(session.plan->size(), PlanCapacity + 500);
    EXPECT_EQ(session.plan->back().size, 1ull << 33); // 8 GiB fits
}
