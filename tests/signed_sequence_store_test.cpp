#include "app/SignedSequenceStore.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

const std::string kKey = "DB4510DB050291C3";
const std::string kOtherKey = "0123456789ABCDEF";
const std::string kBytesA(64, 'a');
const std::string kBytesB(64, 'b');

std::size_t EntriesIn(const std::filesystem::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

} // namespace

TEST(sequence_decision, refuses_rollback_and_other_bytes_under_the_same_seq)
{
    const AcceptedRelease recorded{100, kBytesA};
    const struct {
        const char* name;
        std::optional<AcceptedRelease> recorded;
        std::uint64_t sequence;
        std::string digest;
        SequenceDecision decision;
    } cases[] = {
        {"nothing recorded", std::nullopt, 0, kBytesA, SequenceDecision::Accept},
        {"lower", recorded, 99, kBytesA, SequenceDecision::RefuseLower},
        {"lower with other bytes", recorded, 1, kBytesB, SequenceDecision::RefuseLower},
        {"equal, other bytes", recorded, 100, kBytesB, SequenceDecision::RefuseSameSeqOtherBytes},
        {"equal, same bytes", recorded, 100, kBytesA, SequenceDecision::Accept},
        {"higher", recorded, 101, kBytesB, SequenceDecision::Accept},
        {"highest", recorded, std::uint64_t{1} << 63, kBytesA, SequenceDecision::Accept},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideSequence(c.recorded, c.sequence, c.digest), c.decision) << c.name;
}

TEST(sequence_decision, reads_the_record_of_the_signing_key_only)
{
    MemorySignedSequenceStore store;
    ASSERT_TRUE(store.Write(kKey, {100, kBytesA}));
    EXPECT_EQ(DecideSequence(store, kKey, 99, kBytesA), SequenceDecision::RefuseLower);
    EXPECT_EQ(DecideSequence(store, kKey, 100, kBytesB), SequenceDecision::RefuseSameSeqOtherBytes);
    EXPECT_EQ(DecideSequence(store, kOtherKey, 1, kBytesB), SequenceDecision::Accept) << "a new key starts afresh";
    store.damaged = true;
    EXPECT_EQ(DecideSequence(store, kKey, 101, kBytesA), SequenceDecision::RefuseStoreDamaged);
}

TEST(sequence_store_file, round_trips_per_key_and_replaces_the_file_whole)
{
    TempDir dir;
    const std::string path = dir.Folder() + "Vonmark/Halvane.releases";
    FileSignedSequenceStore store(path);
    AcceptedRelease read;
    EXPECT_EQ(store.Read(kKey, read), SequenceStoreRead::Absent) << "no file yet";

    ASSERT_TRUE(store.Write(kKey, {5, kBytesA}));
    ASSERT_TRUE(store.Write(kOtherKey, {std::uint64_t{1} << 63, kBytesB}));
    ASSERT_TRUE(store.Write(kKey, {7, kBytesB}));

    FileSignedSequenceStore reopened(path);
    ASSERT_EQ(reopened.Read(kKey, read), SequenceStoreRead::Found);
    EXPECT_EQ(read, (AcceptedRelease{7, kBytesB}));
    ASSERT_EQ(reopened.Read(kOtherKey, read), SequenceStoreRead::Found);
    EXPECT_EQ(read, (AcceptedRelease{std::uint64_t{1} << 63, kBytesB}));
    EXPECT_EQ(reopened.Read("FFFFFFFFFFFFFFFF", read), SequenceStoreRead::Absent);

    const std::string text = ReadFileText(path);
    EXPECT_NE(text.find(kKey + " 7 " + kBytesB + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(" 5 "), std::string::npos) << "the old record is replaced: " << text;
    EXPECT_EQ(EntriesIn(dir.Path() / "Vonmark"), 1u) << "no temporary left beside it";
}

TEST(sequence_store_file, refuses_values_it_could_not_read_back)
{
    TempDir dir;
    FileSignedSequenceStore store(dir.Folder() + "Halvane.releases");
    EXPECT_FALSE(store.Write("db4510db050291c3", {1, kBytesA})) << "key id in lowercase";
    EXPECT_FALSE(store.Write("DB45 10DB050291C", {1, kBytesA})) << "space in key id";
    EXPECT_FALSE(store.Write(kKey, {1, "abc"})) << "short digest";
    EXPECT_FALSE(store.Write(kKey, {(std::uint64_t{1} << 63) + 1, kBytesA})) << "seq beyond 2^63";
    EXPECT_FALSE(Exists(dir.Path() / "Halvane.releases"));
    EXPECT_FALSE(FileSignedSequenceStore("").Write(kKey, {1, kBytesA})) << "no place to keep it";
}

TEST(sequence_store_file, damaged_file_reads_as_damaged_and_is_never_overwritten)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"a line cut short", "# comment\n" + kKey + " 5\n"},
        {"a word more", kKey + " 5 " + kBytesA + " x\n"},
        {"seq not a number", kKey + " five " + kBytesA + "\n"},
        {"seq beyond 2^63", kKey + " 9223372036854775809 " + kBytesA + "\n"},
        {"key id not hexadecimal", "DB4510DB050291CZ 5 " + kBytesA + "\n"},
        {"digest too short", kKey + " 5 " + kBytesA.substr(1) + "\n"},
        {"the same key twice", kKey + " 5 " + kBytesA + "\n" + kKey + " 6 " + kBytesA + "\n"},
        {"binary garbage", std::string("\x01\x02\xff\n", 4)},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Write("Halvane.releases", c.content);
        FileSignedSequenceStore store(path);
        AcceptedRelease read;
        EXPECT_EQ(store.Read(kOtherKey, read), SequenceStoreRead::Damaged) << c.name;
        EXPECT_EQ(DecideSequence(store, kKey, 1000, kBytesA), SequenceDecision::RefuseStoreDamaged) << c.name;
        EXPECT_FALSE(store.Write(kOtherKey, {1, kBytesA})) << c.name;
        EXPECT_EQ(ReadFileText(path), c.content) << c.name << ": left as it was";
    }

    // A folder where the file should be is no store either.
    std::filesystem::create_directories(dir.Path() / "folder.releases");
    AcceptedRelease read;
    EXPECT_EQ(FileSignedSequenceStore(dir.Folder() + "folder.releases").Read(kKey, read), SequenceStoreRead::Damaged);

    // Comments and blank lines are no damage.
    const std::string path = dir.Write("ok.releases", "# note\n\n" + kKey + " 5 " + kBytesA + "\n");
    EXPECT_EQ(FileSignedSequenceStore(path).Read(kKey, read), SequenceStoreRead::Found);
    EXPECT_EQ(read.sequence, 5u);
}

TEST(sequence_store_file, system_store_sits_beside_the_remembered_folder)
{
    TempDir dir;
    {
        ScopedEnv config("XDG_CONFIG_HOME", dir.Path().c_str());
        EXPECT_EQ(SystemSignedSequenceStorePath(), dir.Folder() + "Vonmark/Halvane.releases");
        ASSERT_TRUE(SystemSignedSequenceStore().Write(kKey, {3, kBytesA}));
        AcceptedRelease read;
        EXPECT_EQ(FileSignedSequenceStore(dir.Folder() + "Vonmark/Halvane.releases").Read(kKey, read),
                  SequenceStoreRead::Found);
        EXPECT_EQ(read.sequence, 3u);
    }
    ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", dir.Path().c_str());
    EXPECT_EQ(SystemSignedSequenceStorePath(), dir.Folder() + ".config/Vonmark/Halvane.releases");
}
