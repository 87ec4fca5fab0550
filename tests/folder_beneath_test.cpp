#include "platform/FolderBeneath.h"

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kSecret = "secret";

// A download folder dl/ beside a folder outside/ holding one file, with the
// traps a hostile list or a local user could plant in dl/.
struct PlantedFolder {
    TempDir temp;
    fs::path outside = temp.Path() / "outside";
    fs::path folder = temp.Path() / "dl";

    PlantedFolder()
    {
        temp.Write("outside/secret.txt", kSecret);
        temp.Write("dl/real.bin", "data");
        temp.Write("dl/a/b.bin", "deep");
        fs::create_symlink(outside / "secret.txt", folder / "x.des");
        fs::create_symlink(outside / "secret.txt", folder / "x.tmp");
        fs::create_symlink(outside / "nothing-yet", folder / "dangling.tmp");
        fs::create_directory_symlink(outside, folder / "sub");
        fs::create_directory(folder / "dir.bin");
        EXPECT_EQ(::mkfifo((folder / "fifo.bin").c_str(), 0666), 0);
    }

    // Outside is as it was: the one file, unchanged, nothing added.
    void ExpectOutsideUntouched(const std::string& label) const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(outside))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"secret.txt"})) << label;
        EXPECT_EQ(ReadFileText(outside / "secret.txt"), kSecret) << label;
    }
};

using Operation = std::function<FolderStatus(const FolderBeneath&)>;

Operation Open(FolderStatus (FolderBeneath::*open)(const std::string&, UniqueFd&) const, std::string name,
               std::string write = "written")
{
    return [=](const FolderBeneath& folder) {
        UniqueFd fd;
        const auto status = (folder.*open)(name, fd);
        EXPECT_EQ(fd.Valid(), status.Ok()) << name;
        // Whatever was opened takes a write where it may: it must be inside.
        if (fd.Valid() && open != &FolderBeneath::OpenForReading) {
            EXPECT_EQ(::write(fd.Get(), write.data(), write.size()), static_cast<ssize_t>(write.size()));
        }
        return status;
    };
}

struct OperationCase {
    const char* label;
    Operation operation;
    FolderResult expected;
};

std::vector<OperationCase> Cases()
{
    const auto lengthOf = [](std::string name) {
        return [=](const FolderBeneath& folder) {
            std::uint64_t length = 0;
            return folder.Length(name, length);
        };
    };
    const auto rename = [](std::string from, std::string to) {
        return [=](const FolderBeneath& folder) { return folder.Rename(from, to); };
    };
    const auto unlink = [](std::string name) {
        return [=](const FolderBeneath& folder) { return folder.Unlink(name); };
    };
    const auto makeDirs = [](std::string name) {
        return [=](const FolderBeneath& folder) { return folder.MakeDirectoriesOf(name); };
    };
    const auto exists = [](std::string name) {
        return [=](const FolderBeneath& folder) { return folder.Exists(name); };
    };
    using R = FolderResult;
    using F = FolderBeneath;
    return {
        {"read file", Open(&F::OpenForReading, "real.bin"), R::Ok},
        {"read nested file", Open(&F::OpenForReading, "a/b.bin"), R::Ok},
        {"read missing", Open(&F::OpenForReading, "none.bin"), R::NotFound},
        {"read link file", Open(&F::OpenForReading, "x.des"), R::Link},
        {"read through folder link", Open(&F::OpenForReading, "sub/secret.txt"), R::Link},
        {"read fifo", Open(&F::OpenForReading, "fifo.bin"), R::NotRegular},
        {"read folder", Open(&F::OpenForReading, "dir.bin"), R::NotRegular},
        {"read below a file", Open(&F::OpenForReading, "real.bin/x"), R::NotRegular},
        {"read parent", Open(&F::OpenForReading, "../outside/secret.txt"), R::Outside},
        {"read absolute", Open(&F::OpenForReading, "/etc/hostname"), R::Outside},
        {"read dot", Open(&F::OpenForReading, "a/./b.bin"), R::Outside},
        {"read empty component", Open(&F::OpenForReading, "a//b.bin"), R::Outside},
        {"read empty", Open(&F::OpenForReading, ""), R::Outside},
        {"write file", Open(&F::OpenForWriting, "real.bin"), R::Ok},
        {"write new", Open(&F::OpenForWriting, "a/new.bin"), R::Ok},
        {"write link", Open(&F::OpenForWriting, "x.tmp"), R::Link},
        {"write dangling link", Open(&F::OpenForWriting, "dangling.tmp"), R::Link},
        {"write through folder link", Open(&F::OpenForWriting, "sub/secret.txt"), R::Link},
        {"write new through folder link", Open(&F::OpenForWriting, "sub/new.bin"), R::Link},
        {"write fifo", Open(&F::OpenForWriting, "fifo.bin"), R::NotRegular},
        {"write folder", Open(&F::OpenForWriting, "dir.bin"), R::NotRegular},
        {"write parent", Open(&F::OpenForWriting, "../outside/secret.txt"), R::Outside},
        {"append file", Open(&F::OpenForAppend, "real.bin"), R::Ok},
        {"append link", Open(&F::OpenForAppend, "x.tmp"), R::Link},
        {"append fifo", Open(&F::OpenForAppend, "fifo.bin"), R::NotRegular},
        {"append through folder link", Open(&F::OpenForAppend, "sub/secret.txt"), R::Link},
        {"fresh new", Open(&F::CreateFresh, "list.copy"), R::Ok},
        {"fresh over file", Open(&F::CreateFresh, "real.bin"), R::Exists},
        {"fresh over link", Open(&F::CreateFresh, "x.des"), R::Link},
        {"fresh over dangling link", Open(&F::CreateFresh, "dangling.tmp"), R::Link},
        {"fresh through folder link", Open(&F::CreateFresh, "sub/list.copy"), R::Link},
        {"dirs new", makeDirs("n1/n2/f.bin"), R::Ok},
        {"dirs existing", makeDirs("a/f.bin"), R::Ok},
        {"dirs through folder link", makeDirs("sub/deeper/f.bin"), R::Link},
        {"dirs below a file", makeDirs("real.bin/d/f.bin"), R::NotRegular},
        {"dirs parent", makeDirs("../escape/f.bin"), R::Outside},
        {"rename file", rename("real.bin", "a/moved.bin"), R::Ok},
        {"rename over link", rename("real.bin", "x.des"), R::Ok},
        {"rename link", rename("x.tmp", "taken.bin"), R::Link},
        {"rename into folder link", rename("real.bin", "sub/moved.bin"), R::Link},
        {"rename fifo", rename("fifo.bin", "f.bin"), R::NotRegular},
        {"rename onto folder", rename("real.bin", "dir.bin"), R::NotRegular},
        {"rename missing", rename("none.bin", "f.bin"), R::NotFound},
        {"unlink file", unlink("real.bin"), R::Ok},
        {"unlink link itself", unlink("x.des"), R::Ok},
        {"unlink through folder link", unlink("sub/secret.txt"), R::Link},
        {"unlink folder", unlink("dir.bin"), R::NotRegular},
        {"unlink parent", unlink("../outside/secret.txt"), R::Outside},
        {"length file", lengthOf("real.bin"), R::Ok},
        {"length link", lengthOf("x.des"), R::Link},
        {"length fifo", lengthOf("fifo.bin"), R::NotRegular},
        {"length through folder link", lengthOf("sub/secret.txt"), R::Link},
        {"exists file", exists("a/b.bin"), R::Ok},
        {"exists missing", exists("a/none.bin"), R::NotFound},
        {"exists missing folder", exists("none/b.bin"), R::NotFound},
        {"exists link", exists("x.tmp"), R::Link},
        {"exists folder", exists("dir.bin"), R::NotRegular},
    };
}

void RunTable(FolderBeneath::Resolve resolve)
{
    for (const auto& c : Cases()) {
        PlantedFolder planted;
        const FolderBeneath folder(planted.folder.string(), resolve);
        ASSERT_TRUE(folder.Status().Ok());
        EXPECT_EQ(c.operation(folder).result, c.expected) << c.label;
        planted.ExpectOutsideUntouched(c.label);
    }
}

} // namespace

TEST(folder_beneath, every_operation_stays_inside_the_folder_with_openat2_where_present)
{
    RunTable(FolderBeneath::Resolve::Auto);
}

TEST(folder_beneath, every_operation_stays_inside_the_folder_with_the_component_walk)
{
    RunTable(FolderBeneath::Resolve::ComponentWalk);
}

TEST(folder_beneath, folder_that_is_a_link_is_followed_once)
{
    PlantedFolder planted;
    const auto link = planted.temp.Path() / "dl-link";
    fs::create_directory_symlink(planted.folder, link);
    const FolderBeneath folder(link.string() + "/");
    ASSERT_TRUE(folder.Status().Ok());
    std::uint64_t length = 0;
    EXPECT_TRUE(folder.Length("real.bin", length).Ok());
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(folder.Length("sub/secret.txt", length).result, FolderResult::Link);
}

TEST(folder_beneath, missing_folder_or_file_as_folder_is_refused_at_open)
{
    PlantedFolder planted;
    EXPECT_EQ(FolderBeneath((planted.temp.Path() / "none").string()).Status().result, FolderResult::NotFound);
    const FolderBeneath file((planted.folder / "real.bin").string());
    EXPECT_EQ(file.Status().result, FolderResult::NotRegular);
    UniqueFd fd;
    EXPECT_EQ(file.OpenForReading("x", fd).result, FolderResult::NotRegular);
}

TEST(folder_beneath, opened_files_block_again_and_write_truncate_and_append_as_asked)
{
    PlantedFolder planted;
    const FolderBeneath folder(planted.folder.string());
    {
        UniqueFd fd;
        ASSERT_TRUE(folder.OpenForWriting("real.bin", fd).Ok());
        EXPECT_EQ(::fcntl(fd.Get(), F_GETFL) & O_NONBLOCK, 0);
        EXPECT_EQ(::write(fd.Get(), "ab", 2), 2);
    }
    EXPECT_EQ(ReadFileText(planted.folder / "real.bin"), "ab");
    {
        UniqueFd fd;
        ASSERT_TRUE(folder.OpenForAppend("real.bin", fd).Ok());
        EXPECT_EQ(::fcntl(fd.Get(), F_GETFL) & O_NONBLOCK, 0);
        EXPECT_EQ(::write(fd.Get(), "cd", 2), 2);
    }
    EXPECT_EQ(ReadFileText(planted.folder / "real.bin"), "abcd");
    {
        UniqueFd fd;
        ASSERT_TRUE(folder.OpenForReading("real.bin", fd).Ok());
        char buffer[8] = {};
        EXPECT_EQ(::read(fd.Get(), buffer, sizeof buffer), 4);
        EXPECT_EQ(std::string(buffer, 4), "abcd");
    }
    // A refused write leaves the link's target, and the link, as they were.
    UniqueFd fd;
    EXPECT_EQ(folder.OpenForWriting("x.tmp", fd).result, FolderResult::Link);
    EXPECT_TRUE(fs::is_symlink(planted.folder / "x.tmp"));
    planted.ExpectOutsideUntouched("after writes");
}

TEST(folder_beneath, made_folders_rename_and_unlink_work_below_the_folder)
{
    PlantedFolder planted;
    const FolderBeneath folder(planted.folder.string());
    ASSERT_TRUE(folder.MakeDirectoriesOf("n1/n2/f.bin").Ok());
    EXPECT_TRUE(fs::is_directory(planted.folder / "n1" / "n2"));
    EXPECT_FALSE(fs::exists(planted.folder / "n1" / "n2" / "f.bin"));
    ASSERT_TRUE(folder.Rename("real.bin", "n1/n2/f.bin").Ok());
    EXPECT_EQ(ReadFileText(planted.folder / "n1" / "n2" / "f.bin"), "data");
    EXPECT_FALSE(fs::exists(planted.folder / "real.bin"));
    // Renaming over a planted link replaces the link, not its target.
    ASSERT_TRUE(folder.Rename("n1/n2/f.bin", "x.des").Ok());
    EXPECT_FALSE(fs::is_symlink(planted.folder / "x.des"));
    EXPECT_EQ(ReadFileText(planted.folder / "x.des"), "data");
    ASSERT_TRUE(folder.Unlink("x.tmp").Ok());
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted.folder / "x.tmp")));
    EXPECT_EQ(folder.Unlink("x.tmp").result, FolderResult::NotFound);
    planted.ExpectOutsideUntouched("after renames");
}
