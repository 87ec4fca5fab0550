// The order in which one download run tries the servers of game files.
#include "run/SourceOrder.h"

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::size_t> Order(std::initializer_list<std::size_t> sources)
{
    return std::vector<std::size_t>(sources);
}

TEST(SourceOrder, a_base_given_twice_is_one_source)
{
    const SourceOrder sources({"http://a/", "http://b/", "http://a/", "http://c/", "http://b/"});
    ASSERT_EQ(sources.Count(), 3u);
    EXPECT_EQ(sources.Base(0), "http://a/");
    EXPECT_EQ(sources.Base(1), "http://b/");
    EXPECT_EQ(sources.Base(2), "http://c/");
    EXPECT_EQ(sources.Order(), Order({0, 1, 2}));
}

TEST(SourceOrder, a_server_fault_moves_the_source_behind_the_others_a_missing_file_does_not)
{
    struct Case {
        const char* name;
        TransferFault fault;
        bool movesBack;
    };
    const Case cases[] = {
        {"no connection", TransferFault::NoConnection, true},
        {"5xx", TransferFault::ServerError, true},
        {"stall", TransferFault::Stalled, true},
        {"body cut short", TransferFault::CutShort, true},
        {"unusable answer", TransferFault::BadAnswer, true},
        {"4xx", TransferFault::Refused, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SourceOrder sources({"http://a/", "http://b/", "http://c/"});
        sources.Failed(0, c.fault);
        EXPECT_EQ(sources.Order(), c.movesBack ? Order({1, 2, 0}) : Order({0, 1, 2}));
    }
}

TEST(SourceOrder, next_skips_what_the_file_tried_and_follows_the_current_order)
{
    SourceOrder sources({"http://a/", "http://b/", "http://c/"});
    SourceOrder::Tried tried;
    EXPECT_EQ(sources.Next(tried), 0u);
    tried.Add(0);
    sources.Failed(0, TransferFault::NoConnection);
    EXPECT_EQ(sources.Next(tried), 1u);
    tried.Add(1);
    sources.Failed(1, TransferFault::CutShort);
    EXPECT_EQ(sources.Order(), Order({2, 0, 1}));
    EXPECT_EQ(sources.Next(tried), 2u);
    tried.Add(2);
    EXPECT_EQ(sources.Next(tried), sources.Count()) << "every source tried";
    // The next file begins at the source that has not failed.
    EXPECT_EQ(sources.Next(SourceOrder::Tried()), 2u);
    tried.Clear();
    EXPECT_EQ(sources.Next(tried), 2u);
}

} // namespace
