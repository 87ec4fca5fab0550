#include "platform/FileFolderStore.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

std::size_t EntriesIn(const std::filesystem::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

} // namespace

TEST(folder_store, keeps_the_three_states_per_value_name)
{
    TempDir dir;
    FileFolderStore store(dir.Folder() + "Vonmark/Halvane.conf");

    EXPECT_EQ(store.Read("Path"), std::nullopt) << "no file: absent";
    ASSERT_TRUE(store.Write("Path", "/home/u/Games/"));
    EXPECT_EQ(store.Read("Path"), "/home/u/Games/");
    EXPECT_EQ(store.Read("PATH"), "/home/u/Games/") << "names ignore case";
    EXPECT_EQ(store.Read("Other"), std::nullopt) << "other name: absent";

    ASSERT_TRUE(store.Write("Path", ""));
    EXPECT_EQ(store.Read("Path"), "") << "cleared is not absent";

    ASSERT_TRUE(store.Write("", "/data/"));
    EXPECT_EQ(store.Read(""), "/data/");
    EXPECT_EQ(store.Read("@default"), "/data/") << "empty name is the default value";
    EXPECT_EQ(store.Read("Path"), "") << "other values untouched";

    const std::string oddName = "a=b[c]%\nd";
    const std::string oddFolder = "/x=y/%41/line\r\nbreak/[z]/";
    ASSERT_TRUE(store.Write(oddName, oddFolder));
    EXPECT_EQ(store.Read(oddName), oddFolder);
}

TEST(folder_store, write_replaces_the_file_whole_and_leaves_no_temporary)
{
    TempDir dir;
    const std::string path = dir.Folder() + "Halvane.conf";
    FileFolderStore store(path);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(store.Write("Path", "/folder" + std::to_string(i) + "/"));
    EXPECT_EQ(ReadFileText(path), "[Download]\nPath=/folder4/\n");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(folder_store, unusable_store_reads_as_absent_and_write_fails_cleanly)
{
    TempDir dir;
    // A folder where the file should be: unreadable, and rename cannot replace it.
    std::filesystem::create_directories(dir.Path() / "Halvane.conf");
    FileFolderStore store(dir.Folder() + "Halvane.conf");
    EXPECT_EQ(store.Read("Path"), std::nullopt);
    EXPECT_FALSE(store.Write("Path", "/x/"));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u) << "no temporary left behind";

    // A file where the folder should be: nothing can be created.
    dir.Write("blocker", "x");
    FileFolderStore blocked(dir.Folder() + "blocker/Halvane.conf");
    EXPECT_FALSE(blocked.Write("Path", "/x/"));
    EXPECT_EQ(blocked.Read("Path"), std::nullopt);
}

TEST(folder_store, system_store_lives_in_the_user_configuration_folder)
{
    TempDir dir;
    const std::string home = dir.Folder() + "home";
    const std::string config = dir.Folder() + "config";
    const struct {
        const char* name;
        const char* xdgConfigHome; // nullptr: unset
        std::string expectedPath;
    } cases[] = {
        {"XDG_CONFIG_HOME set", config.c_str(), config + "/Vonmark/Halvane.conf"},
        {"XDG_CONFIG_HOME unset", nullptr, home + "/.config/Vonmark/Halvane.conf"},
        {"XDG_CONFIG_HOME not absolute", "relative", home + "/.config/Vonmark/Halvane.conf"},
    };
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> savedXdg = oldXdg ? std::optional<std::string>(oldXdg) : std::nullopt;
    ::setenv("HOME", home.c_str(), 1);
    for (const auto& c : cases) {
        if (c.xdgConfigHome)
            ::setenv("XDG_CONFIG_HOME", c.xdgConfigHome, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(SystemFolderStorePath(), c.expectedPath) << c.name;
        EXPECT_TRUE(SystemFolderStore().Write("K", std::string("/") + c.name + "/")) << c.name;
        EXPECT_EQ(FileFolderStore(c.expectedPath).Read("K"), std::string("/") + c.name + "/") << c.name;
    }
    ::setenv("HOME", oldHome.c_str(), 1);
    if (savedXdg)
        ::setenv("XDG_CONFIG_HOME", savedXdg->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}
