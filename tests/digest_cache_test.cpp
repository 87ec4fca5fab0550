#include "planning/DigestCache.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "planning/RunningDigest.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

const std::string SomeDigest = "0123456789abcdef0123456789abcdef";

void SetMtime(const std::string& path, std::int64_t ns)
{
    timespec times[2];
    times[0].tv_sec = ns / 1'000'000'000;
    times[0].tv_nsec = ns % 1'000'000'000;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void Overwrite(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

TEST(DigestCache, a_change_of_any_key_field_misses)
{
    const FileIdentity base {10, 20, 30, 40, 50};
    struct Case {
        const char* name;
        std::function<void(FileIdentity&)> change;
        bool hit;
    };
    const std::vector<Case> cases = {
        {"unchanged", [](FileIdentity&) {}, true},
        {"device", [](FileIdentity& id) { ++id.device; }, false},
        {"inode", [](FileIdentity& id) { ++id.inode; }, false},
        {"size", [](FileIdentity& id) { ++id.size; }, false},
        {"mtime by a nanosecond", [](FileIdentity& id) { ++id.mtimeNs; }, false},
        {"ctime by a nanosecond", [](FileIdentity& id) { ++id.ctimeNs; }, false},
    };
    DigestCache cache("/nonexistent/never-written");
    cache.Remember(base, SomeDigest);
    for (const auto& c : cases) {
        auto probe = base;
        c.change(probe);
        EXPECT_EQ(cache.Find(probe).has_value(), c.hit) << c.name;
    }
}

TEST(DigestCache, what_is_done_to_a_file_makes_it_miss)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> act;
        bool hit;
    };
    constexpr std::int64_t Old = 1'000'000'000'123'456'789; // 2001, with nanoseconds
    const std::string content = RandomBytes(4000);
    const std::vector<Case> cases = {
        {"untouched", [](const std::string&) {}, true},
        {"touched", [](const std::string& path) { SetMtime(path, Old + 1); }, false},
        {"rewritten, same size, time put back",
            [&](const std::string& path) {
                // Only the change time can tell; rewrite until the clock has moved it.
                const auto before = IdentifyFile(path)->ctimeNs;
                for (int i = 0; i < 1000 && IdentifyFile(path)->ctimeNs == before; ++i) {
                    Overwrite(path, RandomBytes(4000, 99));
                    SetMtime(path, Old);
                }
            },
            false},
        {"replaced by rename",
            [&](const std::string& path) {
                const auto other = path + ".new";
                Overwrite(other, content);
                SetMtime(other, Old);
                std::filesystem::rename(other, path);
            },
            false},
        {"truncated", [](const std::string& path) { std::filesystem::resize_file(path, 100); }, false},
    };
    for (const auto& c : cases) {
        TempDir folder;
        const auto path = folder.Write("game.pak", content);
        SetMtime(path, Old);
        DigestCache cache((folder.Path() / "cache").string());
        const auto before = IdentifyFile(path);
        ASSERT_TRUE(before.has_value());
        cache.Remember(*before, Md5Of(content));
        c.act(path);
        const auto after = IdentifyFile(path);
        ASSERT_TRUE(after.has_value()) << c.name;
        EXPECT_EQ(cache.Find(*after).has_value(), c.hit) << c.name;
    }
}

TEST(DigestCache, saved_digests_come_back_from_the_file)
{
    TempDir folder;
    const auto file = (folder.Path() / "deep/er/x.digests").string();
    DigestCache cache(file);
    EXPECT_EQ(cache.Load(), DigestCache::LoadResult::Missing);
    cache.Remember({1, 2, 3, 4, 5}, SomeDigest);
    cache.Remember({1, 9, 3, -4, 5}, Md5Of("x"));
    ASSERT_TRUE(cache.Save());
    EXPECT_FALSE(Exists(file + ".tmp"));

    DigestCache again(file);
    EXPECT_EQ(again.Load(), DigestCache::LoadResult::Loaded);
    EXPECT_EQ(again.Size(), 2u);
    EXPECT_EQ(again.Find({1, 2, 3, 4, 5}), SomeDigest);
    EXPECT_EQ(again.Find({1, 9, 3, -4, 5}), Md5Of("x"));
}

// Saving after every landed file rewrites the file at most once an interval;
// what waits is written by the next plain Save.
TEST(DigestCache, a_save_within_the_interval_waits_for_the_next_one)
{
    TempDir folder;
    const auto file = (folder.Path() / "x.digests").string();
    const auto savedCount = [&file] {
        DigestCache saved(file);
        saved.Load();
        return saved.Size();
    };
    DigestCache cache(file);
    cache.Remember({1, 2, 3, 4, 5}, SomeDigest);
    ASSERT_TRUE(cache.SaveAtMostEvery(std::chrono::hours(1)));
    EXPECT_EQ(savedCount(), 1u) << "the first save is never held back";
    cache.Remember({1, 3, 3, 4, 5}, SomeDigest);
    ASSERT_TRUE(cache.SaveAtMostEvery(std::chrono::hours(1)));
    EXPECT_EQ(savedCount(), 1u);
    ASSERT_TRUE(cache.SaveAtMostEvery(std::chrono::milliseconds(0)));
    EXPECT_EQ(savedCount(), 2u);
    cache.Remember({1, 4, 3, 4, 5}, SomeDigest);
    ASSERT_TRUE(cache.Save());
    EXPECT_EQ(savedCount(), 3u);
}

TEST(DigestCache, a_damaged_cache_file_is_taken_as_empty_and_written_again)
{
    TempDir folder;
    const auto file = (folder.Path() / "x.digests").string();
    {
        DigestCache cache(file);
        cache.Remember({1, 2, 3, 4, 5}, SomeDigest);
        cache.Remember({1, 3, 3, 4, 5}, SomeDigest);
        ASSERT_TRUE(cache.Save());
    }
    const std::string good = ReadFileText(file);
    auto flipped = good;
    flipped[flipped.size() - 5] = flipped[flipped.size() - 5] == 'a' ? 'b' : 'a';
    auto otherFormat = good;
    otherFormat.replace(0, good.find('\n'), "zorvath-digest-cache 2");
    struct Case {
        const char* name;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() - 10)},
        {"cut after the last line's digest", good.substr(0, good.size() - 1)},
        {"a byte changed", flipped},
        {"another format", otherFormat},
        {"garbage", RandomBytes(300)},
        {"a right checksum over a line that is not an entry", "zorvath-digest-cache 1\nbody-md5 " + Md5Of("1 2 3\n") + "\n1 2 3\n"},
    };
    for (const auto& c : cases) {
        Overwrite(file, c.text);
        DigestCache cache(file);
        EXPECT_EQ(cache.Load(), DigestCache::LoadResult::Damaged) << c.name;
        EXPECT_EQ(cache.Size(), 0u) << c.name;
        EXPECT_FALSE(cache.Find({1, 2, 3, 4, 5}).has_value()) << c.name;
        // Nothing new to remember, yet the damaged file is replaced.
        ASSERT_TRUE(cache.Save()) << c.name;
        DigestCache again(file);
        EXPECT_EQ(again.Load(), DigestCache::LoadResult::Loaded) << c.name;
        EXPECT_EQ(again.Size(), 0u) << c.name;
    }
}

TEST(DigestCache, one_cache_file_per_folder_under_the_cache_home)
{
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string savedValue = saved != nullptr ? saved : "";
    setenv("XDG_CACHE_HOME", "/tmp/cachehome", 1);
    const auto a = DigestCacheFileFor("/games/one");
    EXPECT_EQ(a.rfind("/tmp/cachehome/zorvath/", 0), 0u) << a;
    EXPECT_EQ(DigestCacheFileFor("/games/one/"), a);
    EXPECT_NE(DigestCacheFileFor("/games/two"), a);
    unsetenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (home != nullptr) {
        EXPECT_EQ(DigestCacheFileFor("/games/one").rfind(std::string(home) + "/.cache/zorvath/", 0), 0u);
    }
    if (saved != nullptr)
        setenv("XDG_CACHE_HOME", savedValue.c_str(), 1);
}

TEST(RunningDigest, a_seeded_prefix_and_the_blocks_after_it_give_the_whole_files_digest)
{
    TempDir folder;
    const auto content = RandomBytes(700'000);
    const auto path = folder.Write("part.bin", content.substr(0, 300'001));
    RunningDigest digest;
    ASSERT_TRUE(digest.SeedFromFile(path, 300'001));
    EXPECT_EQ(digest.Length(), 300'001u);
    EXPECT_EQ(digest.Hex(), Md5Of(content.substr(0, 300'001)));
    digest.Update(content.data() + 300'001, 200'000);
    digest.Update(content.data() + 500'001, content.size() - 500'001);
    EXPECT_EQ(digest.Hex(), Md5Of(content));
    EXPECT_EQ(digest.Length(), content.size());
}

TEST(RunningDigest, a_seed_longer_than_the_file_fails_and_resets)
{
    TempDir folder;
    const auto path = folder.Write("short.bin", "abc");
    RunningDigest digest;
    digest.Update("xyz", 3);
    EXPECT_FALSE(digest.SeedFromFile(path, 4));
    EXPECT_EQ(digest.Length(), 0u);
    EXPECT_EQ(digest.Hex(), Md5Of(""));
    EXPECT_FALSE(digest.SeedFromFile((folder.Path() / "none").string(), 1));
    digest.Update("abc", 3);
    digest.Reset();
    EXPECT_EQ(digest.Hex(), Md5Of(""));
}

} // namespace
