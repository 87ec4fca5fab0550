#include "planning/DigestQueue.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "planning/RunningDigest.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

// Feeds bytes to digest through queue in blocks of the given sizes, cycling
// through them until every byte is given.
void FeedInBlocks(DigestQueue& queue, RunningDigest& digest, const std::string& bytes,
                  const std::vector<std::size_t>& sizes)
{
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const std::size_t size = std::min(sizes[i % sizes.size()], bytes.size() - at);
        queue.Update(digest, bytes.data() + at, size);
        at += size;
    }
}

} // namespace

TEST(digest_queue, digest_equals_one_shot_md5_for_blocks_across_buffer_boundaries)
{
    const std::string bytes = RandomBytes(10007, 3);
    const struct {
        const char* name;
        std::size_t bufferSize;
        std::size_t buffers;
        std::vector<std::size_t> blocks;
    } cases[] = {
        {"blocks smaller than a buffer", 64, 3, {1, 7, 63}},
        {"blocks of exactly a buffer", 64, 3, {64}},
        {"blocks spanning several buffers", 64, 3, {65, 200, 129}},
        {"one buffer only", 13, 1, {5, 31, 1}},
        {"odd buffer size, odd blocks", 61, 4, {97, 3, 61, 122, 1}},
        {"whole input in one block", 4096, 2, {10007}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        RunningDigest digest;
        {
            DigestQueue queue(row.bufferSize, row.buffers);
            FeedInBlocks(queue, digest, bytes, row.blocks);
            queue.Settle(digest);
            EXPECT_EQ(digest.Length(), bytes.size());
            EXPECT_EQ(digest.Hex(), Md5Of(bytes));
        }
    }
}

TEST(digest_queue, digests_fed_in_turns_each_get_only_their_own_bytes_in_order)
{
    const std::string first = RandomBytes(5000, 11);
    const std::string second = RandomBytes(3001, 12);
    RunningDigest a;
    RunningDigest b;
    DigestQueue queue(50, 3);
    // Interleaved as parallel transfers hand their blocks over.
    std::size_t atA = 0;
    std::size_t atB = 0;
    while (atA < first.size() || atB < second.size()) {
        const std::size_t takeA = std::min<std::size_t>(77, first.size() - atA);
        queue.Update(a, first.data() + atA, takeA);
        atA += takeA;
        const std::size_t takeB = std::min<std::size_t>(31, second.size() - atB);
        queue.Update(b, second.data() + atB, takeB);
        atB += takeB;
    }
    queue.Settle(a);
    EXPECT_EQ(a.Hex(), Md5Of(first));
    queue.Settle(b);
    EXPECT_EQ(b.Hex(), Md5Of(second));
}

TEST(digest_queue, seeded_prefix_and_queued_rest_digest_the_whole_file)
{
    // A resumed file: the prefix on disk is hashed first, the rest as it comes.
    const std::string bytes = RandomBytes(4099, 5);
    TempDir folder;
    const std::string path = folder.Folder() + "part.tmp";
    std::ofstream(path, std::ios::binary) << bytes.substr(0, 1500);
    RunningDigest digest;
    ASSERT_TRUE(digest.SeedFromFile(path, 1500));
    DigestQueue queue(100, 2);
    FeedInBlocks(queue, digest, bytes.substr(1500), {333});
    queue.Settle(digest);
    EXPECT_EQ(digest.Hex(), Md5Of(bytes));
}

TEST(digest_queue, closing_hashes_every_queued_block_and_joins_its_thread)
{
    // A stopped round drops the queue without settling: the digest must
    // still hold every byte given, so that a resume continues from it.
    const std::string bytes = RandomBytes(200000, 9);
    RunningDigest digest;
    {
        DigestQueue queue(4096, 4);
        FeedInBlocks(queue, digest, bytes, {1000, 9000});
    }
    EXPECT_EQ(digest.Length(), bytes.size());
    EXPECT_EQ(digest.Hex(), Md5Of(bytes));
}

TEST(digest_queue, bytes_are_copied_so_the_caller_may_reuse_its_block_at_once)
{
    const std::string bytes = RandomBytes(3000, 13);
    RunningDigest digest;
    DigestQueue queue(256, 8);
    std::string block;
    for (std::size_t at = 0; at < bytes.size(); at += 500) {
        block = bytes.substr(at, 500);
        queue.Update(digest, block.data(), block.size());
        // The engine's block is only valid during the call.
        block.assign(block.size(), 'x');
    }
    queue.Settle(digest);
    EXPECT_EQ(digest.Hex(), Md5Of(bytes));
}
