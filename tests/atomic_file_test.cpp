#include "platform/AtomicFile.h"

#include <filesystem>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

TEST(atomic_file, replaces_the_whole_file_with_the_given_mode_and_leaves_no_temporary)
{
    TempDir dir;
    const std::string path = dir.Write("state", std::string(100000, 'o'));
    ASSERT_TRUE(WriteFileAtomically(path, "new", 0600));
    EXPECT_EQ(ReadFileText(path), "new");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(atomic_file, a_folder_that_cannot_take_it_fails_and_changes_nothing)
{
    TempDir dir;
    EXPECT_FALSE(WriteFileAtomically(dir.Folder() + "missing/state", "x"));
    // A folder where the file should be: the rename fails, the folder stays
    // and the temporary is gone.
    fs::create_directories(dir.Path() / "taken");
    dir.Write("taken/inner", "kept");
    EXPECT_FALSE(WriteFileAtomically(dir.Folder() + "taken", "x"));
    EXPECT_EQ(ReadFileText(dir.Folder() + "taken/inner"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}
