#include "planning/DownloadPlan.h"

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "planning/Md5.h"
#include "platform/FolderBeneath.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

FileLine Line(const std::string& name, const std::string& md5)
{
    auto file = ParseFileLine(name + "," + md5, FirstFileLineNumber);
    return *file;
}

// Sizes as a server would announce them, by URL; 0 for anything unknown.
struct FakeSizes {
    std::map<std::string, std::uint64_t> sizes;
    std::vector<std::string> asked;
    RemoteSizeQuery Query()
    {
        return [this](const std::string& url) {
            asked.push_back(url);
            const auto it = sizes.find(url);
            return it == sizes.end() ? std::uint64_t{0} : it->second;
        };
    }
};

constexpr const char* Base = "http://files.example/game/";

// The plan as a check run builds it: beneath the folder held open.
PlannedFiles Build(const std::string& folder, const std::string& baseUrl, const std::vector<FileLine>& files,
                   const RemoteSizeQuery& querySize)
{
    const FolderBeneath beneath(folder.empty() ? std::string("./") : folder);
    return BuildDownloadPlan(beneath, folder, baseUrl, files, querySize);
}

} // namespace

TEST(download_plan, compare_digest_text_gives_the_sign_of_the_first_differing_unsigned_byte)
{
    const std::string listed = "0123456789abcdef0123456789abcdef";
    std::array<char, 32> md5{};
    std::copy(listed.begin(), listed.end(), md5.begin());
    EXPECT_EQ(CompareDigestText(listed.data(), md5), 0);
    EXPECT_EQ(CompareDigestText("0123456789abcdef0123456789abcdee", md5), -1);
    EXPECT_EQ(CompareDigestText("1123456789abcdef0123456789abcdef", md5), 1);
    EXPECT_EQ(CompareDigestText("0123456789ABCDEF0123456789ABCDEF", md5), -1); // 'A' < 'a'
    EXPECT_EQ(CompareDigestText("\xff" "123456789abcdef0123456789abcdef", md5), 1); // unsigned
}

TEST(download_plan, compare_digest_text_ignoring_case_matches_uppercase_lists)
{
    struct Case {
        const char* label;
        const char* computed;
        const char* listed;
        int expected;
    };
    const Case cases[] = {
        {"same lowercase", "0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef", 0},
        {"uppercase list", "0123456789abcdef0123456789abcdef", "0123456789ABCDEF0123456789ABCDEF", 0},
        {"mixed case", "0123456789abcdef0123456789abcdef", "0123456789aBcDeF0123456789AbCdEf", 0},
        {"last digit smaller", "0123456789abcdef0123456789abcdee", "0123456789ABCDEF0123456789ABCDEF", -1},
        {"first digit larger", "f123456789abcdef0123456789abcdef", "E123456789ABCDEF0123456789ABCDEF", 1},
        {"digit against letter", "a123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef", 1},
        // Only ASCII letters fold: '@' (0x40) and '`' (0x60) stay apart.
        {"no folding outside letters", "@123456789abcdef0123456789abcdef", "`123456789abcdef0123456789abcdef", -1},
    };
    for (const Case& c : cases) {
        std::array<char, 32> listed{};
        std::copy(c.listed, c.listed + 32, listed.begin());
        EXPECT_EQ(CompareDigestTextIgnoringCase(c.computed, listed), c.expected) << c.label;
    }
}

// The four rows of the decision: present and equal, present and different
// (a partial beside it does not count), missing with a matching side file and
// a partial, missing with a side file of another version. The server would
// give the complete file another size; its length on disk counts.
TEST(download_plan, decision_table_gives_exact_flags_and_totals)
{
    TempDir dir;
    const std::string folder = dir.Folder();
    const std::string good(3000, 'g');
    const std::string bad(5000, 'b');
    const std::string resumed(4000, 'r');
    const std::string stale(7000, 's');

    dir.Write("present.bin", good);
    dir.Write("changed.bin", "old content");
    dir.Write("changed.bin.tmp", std::string(100, 'x'));
    dir.Write("resumed.bin.des", Md5Of(resumed));
    dir.Write("resumed.bin.tmp", resumed.substr(0, 1000));
    dir.Write("stale.bin.des", Md5Of("another version"));
    dir.Write("stale.bin.tmp", std::string(2500, 'x'));

    FakeSizes server;
    server.sizes = {{std::string(Base) + "present.bin", 99},
                    {std::string(Base) + "changed.bin", bad.size()},
                    {std::string(Base) + "resumed.bin", resumed.size()},
                    {std::string(Base) + "stale.bin", stale.size()}};
    const std::vector<FileLine> files = {Line("present.bin", Md5Of(good)), Line("changed.bin", Md5Of(bad)),
                                         Line("resumed.bin", Md5Of(resumed)), Line("stale.bin", Md5Of(stale))};

    const PlannedFiles plan = Build(folder, Base, files, server.Query());

    struct Row {
        const char* name;
        bool differs;
        bool partialDiffers;
        int needed;
        std::uint64_t size;
    };
    const Row rows[] = {{"present.bin", false, false, 0, 3000},
                        {"changed.bin", true, false, 1, 5000},
                        {"resumed.bin", false, false, 1, 4000},
                        {"stale.bin", false, true, 1, 7000}};
    ASSERT_EQ(plan.FileCount(), 4);
    ASSERT_EQ(plan.entries.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const PlanEntry& entry = plan.entries[i];
        EXPECT_EQ(entry.path, folder + rows[i].name);
        EXPECT_EQ(entry.localDiffers != 0, rows[i].differs) << rows[i].name;
        EXPECT_EQ(entry.partialDiffers != 0, rows[i].partialDiffers) << rows[i].name;
        EXPECT_EQ(entry.needed, rows[i].needed) << rows[i].name;
        EXPECT_EQ(entry.size, rows[i].size) << rows[i].name;
        EXPECT_EQ(std::string(entry.md5.data(), 32), std::string(files[i].md5.data(), 32));
    }
    EXPECT_EQ(plan.totalBytes, 3000u + 5000u + 4000u + 7000u);
    EXPECT_EQ(plan.bytesDone, 3000u + 1000u);
    EXPECT_EQ(plan.bytesToFetch, 5000u + 3000u + 7000u);
    // A complete file is its own size: the server is not asked for it.
    EXPECT_EQ(server.asked, (std::vector<std::string>{std::string(Base) + "changed.bin",
                                                      std::string(Base) + "resumed.bin",
                                                      std::string(Base) + "stale.bin"}));
}

TEST(download_plan, uppercase_digest_matches_the_present_file_so_it_is_kept)
{
    TempDir dir;
    const std::string content = "exact bytes";
    dir.Write("upper.bin", content);
    std::string upper = Md5Of(content);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FakeSizes server;
    server.sizes = {{std::string(Base) + "upper.bin", content.size()}};

    const PlannedFiles plan = Build(dir.Folder(), Base, {Line("upper.bin", upper)}, server.Query());

    const PlanEntry& entry = plan.entries.at(0);
    EXPECT_EQ(entry.localDiffers, 0);
    EXPECT_EQ(entry.needed, 0);
    EXPECT_EQ(plan.bytesToFetch, 0u);
    EXPECT_EQ(plan.bytesDone, content.size());
    EXPECT_EQ(ReadFileText(dir.Folder() + "upper.bin"), content);
}

TEST(download_plan, nested_names_make_their_folders_and_ask_the_size_with_slashes)
{
    TempDir dir;
    FakeSizes server;
    server.sizes = {{std::string(Base) + "a/b/deep.dat", 42}};

    const PlannedFiles plan = Build(dir.Folder(), Base, {Line("a\\b\\deep.dat", Md5Of("x"))}, server.Query());

    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "a"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "a" / "b"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "a" / "b" / "deep.dat"));
    EXPECT_EQ(plan.entries.at(0).path, dir.Folder() + "a/b/deep.dat");
    EXPECT_EQ(server.asked, std::vector<std::string>{std::string(Base) + "a/b/deep.dat"});
    EXPECT_EQ(plan.bytesToFetch, 42u);
}

TEST(download_plan, empty_folder_marks_every_file_needed_and_touches_nothing)
{
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    dir.Write("here.bin", "present in the working directory");
    FakeSizes server;
    server.sizes = {{std::string(Base) + "here.bin", 33}, {std::string(Base) + "sub/x.bin", 10}};

    const PlannedFiles plan = Build("", Base, {Line("here.bin", Md5Of("present in the working directory")),
                                          Line("sub\\x.bin", Md5Of("x"))},
                      server.Query());
    std::filesystem::current_path(cwd);

    for (const PlanEntry& entry : plan.entries) {
        EXPECT_EQ(entry.localDiffers, 1);
        EXPECT_EQ(entry.partialDiffers, 1);
        EXPECT_EQ(entry.needed, 1);
    }
    EXPECT_EQ(plan.entries.at(1).path, "sub/x.bin");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "sub"));
    EXPECT_EQ(plan.bytesToFetch, 43u);
    EXPECT_EQ(plan.bytesDone, 0u);
}

TEST(download_plan, unknown_size_is_zero_and_never_borrowed_from_the_previous_file)
{
    TempDir dir;
    FakeSizes server;
    server.sizes = {{std::string(Base) + "known.bin", 9000}};
    dir.Write("unknown.bin.tmp", std::string(500, 'p')); // longer than the unknown size

    const PlannedFiles plan = Build(dir.Folder(), Base,
                      {Line("known.bin", Md5Of("k")), Line("unknown.bin", Md5Of("u"))}, server.Query());

    EXPECT_EQ(plan.entries.at(0).size, 9000u);
    EXPECT_EQ(plan.entries.at(1).size, 0u);
    EXPECT_EQ(plan.entries.at(1).needed, 1);
    EXPECT_EQ(plan.totalBytes, 9000u);
    // The 500 partial bytes of a file of unknown size must not wrap the count.
    EXPECT_EQ(plan.bytesToFetch, 9000u);
    EXPECT_EQ(plan.bytesDone, 0u);
}

TEST(download_plan, more_than_a_thousand_lines_are_all_planned)
{
    TempDir dir;
    std::vector<FileLine> files;
    for (int i = 0; i < 1500; ++i)
        files.push_back(Line("f" + std::to_string(i), Md5Of(std::to_string(i))));
    const PlannedFiles plan = Build(dir.Folder(), Base, files, [](const std::string&) { return std::uint64_t{2}; });

    EXPECT_EQ(plan.FileCount(), 1500);
    EXPECT_EQ(plan.entries.back().path, dir.Folder() + "f1499");
    EXPECT_EQ(plan.totalBytes, 3000u);
    EXPECT_EQ(plan.bytesToFetch, 3000u);
}
