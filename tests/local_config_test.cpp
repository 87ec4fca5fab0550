#include "app/LocalConfig.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "run/DownloadFolderChoice.h"
#include "run/DownloadSession.h"
#include "run/Messages.h"
#include "platform/FixedDrives.h"
#include "platform/FolderStore.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "transfer/TransferEngine.h"

namespace {

class local_config : public ::testing::Test {
protected:
    void SetUp() override { g_downloadSession.ResetForTest(); }
    void TearDown() override { g_downloadSession.ResetForTest(); }
    TempDir m_dir;
};

} // namespace

TEST_F(local_config, reads_the_seven_keys_of_settings)
{
    const std::string path = m_dir.Write("config.ini",
                                         "[settings]\nmutex=M\nupdate=U\nsetup=S\nguanwang=G\nzhuce=Z\n"
                                         "ad=A\nreg_key=R\ndir=D\n");
    const LocalConfig config = ReadLocalConfig(path);
    EXPECT_EQ(config.m_strUpdate, "U");
    EXPECT_EQ(config.m_strSetup, "S");
    EXPECT_EQ(config.m_strGuanwang, "G");
    EXPECT_EQ(config.m_strZhuce, "Z");
    EXPECT_EQ(config.m_strAd, "A");
    EXPECT_EQ(config.m_strRegKey, "R");
    EXPECT_EQ(config.m_strDir, "D");
}

TEST_F(local_config, default_path_is_config_ini_in_the_working_directory)
{
    m_dir.Write("config.ini", "[settings]\nupdate=" + std::string(600, 'x') + "\n");
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());
    const LocalConfig config = ReadLocalConfig();
    std::filesystem::current_path(m_dir.Path() / "..");
    const LocalConfig missing = ReadLocalConfig();
    std::filesystem::current_path(old);
    EXPECT_EQ(config.m_strUpdate, std::string(511, 'x'));
    EXPECT_EQ(missing.m_strUpdate, "");
    EXPECT_EQ(missing.m_strDir, "");
}

TEST_F(local_config, default_rule_takes_the_first_fixed_drive)
{
    const std::string a = m_dir.Folder() + "a/", b = m_dir.Folder() + "b/", c = m_dir.Folder() + "c/";
    const struct {
        const char* name;
        std::vector<DriveRoot> drives;
        std::string dir;
        std::string expected; // "" when no folder can be chosen
    } cases[] = {
        {"first fixed", {{a, DriveType::Fixed}, {b, DriveType::Fixed}}, "Games", a + "Games/"},
        {"removable and remote before it",
         {{a, DriveType::Removable}, {b, DriveType::Remote}, {c, DriveType::Fixed}},
         "Games",
         c + "Games/"},
        {"empty dir gives root and one more slash", {{a, DriveType::Fixed}}, "", a + "/"},
        {"backslashes in dir become folders", {{b, DriveType::Fixed}}, "x\\y", b + "x/y/"},
        {"no fixed drive", {{a, DriveType::Removable}, {b, DriveType::Other}}, "Games", ""},
        {"no drive at all", {}, "Games", ""},
    };
    for (const auto& row : cases) {
        g_downloadSession.ResetForTest();
        g_downloadSession.SetDownloadFolder("/old/");
        RecordingWindow window;
        ChooseDefaultFolder(FixedDrives(row.drives), row.dir, &window);
        EXPECT_EQ(g_downloadSession.DownloadFolder(), row.expected) << row.name;
        EXPECT_EQ(g_downloadSession.folderDefaulted.load(), row.expected.empty() ? 0 : 1) << row.name;
        if (row.expected.empty()) {
            EXPECT_TRUE(window.Events().empty()) << row.name << ": field keeps its prompt";
        } else {
            EXPECT_EQ(window.Text(IDC_FOLDER), " " + row.expected) << row.name;
            EXPECT_TRUE(std::filesystem::is_directory(row.expected)) << row.name;
        }
    }
}

TEST_F(local_config, init_keeps_an_existing_stored_folder_else_defaults)
{
    const std::string drive = m_dir.Folder() + "drive/";
    const std::string stored = m_dir.Folder() + "stored/";
    std::filesystem::create_directories(stored);
    const FixedDrives fixed({{drive, DriveType::Fixed}});
    const FixedDrives none({{drive, DriveType::Removable}});
    const struct {
        const char* name;
        std::optional<std::string> value;
        const IDrives* drives;
        std::string folder;
        int fromRegistry;
        int defaulted;
        std::string text;
    } cases[] = {
        {"stored folder exists", stored, &fixed, stored, 1, 0, " " + stored},
        {"stored folder without final slash", m_dir.Folder() + "stored", &fixed, stored, 1, 0, " " + stored},
        {"stored folder deleted", m_dir.Folder() + "gone/", &fixed, drive + "Games/", 0, 1, " " + drive + "Games/"},
        {"stored value cleared", "", &fixed, drive + "Games/", 0, 1, " " + drive + "Games/"},
        {"stored value absent", std::nullopt, &fixed, drive + "Games/", 0, 1, " " + drive + "Games/"},
        {"relative stored folder", "stored/", &fixed, drive + "Games/", 0, 1, " " + drive + "Games/"},
        {"nothing stored, no fixed drive", std::nullopt, &none, "", 0, 0, kNoFolderPrompt},
    };
    LocalConfig config;
    config.m_strRegKey = "Path";
    config.m_strDir = "Games";
    for (const auto& row : cases) {
        g_downloadSession.ResetForTest();
        MemoryFolderStore store;
        if (row.value)
            store.values["Path"] = *row.value;
        RecordingWindow window;
        InitDownloadFolder(store, *row.drives, config, &window);
        EXPECT_EQ(g_downloadSession.DownloadFolder(), row.folder) << row.name;
        EXPECT_EQ(g_downloadSession.folderFromRegistry.load(), row.fromRegistry) << row.name;
        EXPECT_EQ(g_downloadSession.folderDefaulted.load(), row.defaulted) << row.name;
        EXPECT_EQ(window.Text(IDC_FOLDER), row.text) << row.name;
        EXPECT_EQ(store.Read("Path"), row.value) << row.name << ": initialisation never writes";
    }
}

TEST_F(local_config, stored_folder_round_trips_through_the_store)
{
    MemoryFolderStore store;
    EXPECT_EQ(LoadStoredFolder(store, "Path"), "");
    StoreFolder(store, "Path", "/games/");
    EXPECT_EQ(LoadStoredFolder(store, "Path"), "/games/");
    StoreFolder(store, "Path", "");
    EXPECT_EQ(LoadStoredFolder(store, "Path"), "");
    store.values["Path"] = std::string("/a/\0/b/", 7);
    EXPECT_EQ(LoadStoredFolder(store, "Path"), "/a/") << "ends at the first terminator";
}

TEST_F(local_config, limit_is_read_in_kib_per_second_and_anything_else_means_none)
{
    const struct {
        const char* line; // under [settings]
        std::uint64_t bytesPerSecond;
    } cases[] = {
        {"", 0},
        {"limit=500\n", 500 * 1024},
        {"limit=1\n", 1024},
        {"limit=0\n", 0},
        {"limit=\n", 0},
        {"limit=-5\n", 0},
        {"limit=1.5\n", 0},
        {"limit=2M\n", 0},
        {"limit=9999999999999\n", 0},
    };
    for (const auto& c : cases) {
        const std::string path = m_dir.Write("config.ini", std::string("[settings]\nupdate=U\n") + c.line);
        EXPECT_EQ(ReadLocalConfig(path).m_limitBytesPerSecond, c.bytesPerSecond) << c.line;
    }
}

TEST_F(local_config, the_run_engine_takes_the_window_configured_limit)
{
    RecordingWindow window;
    window.config.m_limitBytesPerSecond = 300 * 1024;
    g_downloadSession.mainWindow = &window;

    const auto engine = g_downloadSession.Engine(3);

    EXPECT_EQ(engine->Options().maxBytesPerSecond, 300u * 1024);
    EXPECT_EQ(engine->Options().connections, 3);
    g_downloadSession.mainWindow = nullptr;
}

TEST_F(local_config, mirrors_are_http_base_urls_split_at_blanks)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> bases;
        int skipped;
    };
    const std::vector<Case> cases = {
        {"absent", "", {}, 0},
        {"blanks only", " \t ", {}, 0},
        {"one, slash added", "http://m1.example/game", {"http://m1.example/game/"}, 0},
        {"order kept, runs of blanks are one gap", "  https://b/x/ \t\thttp://a:8080/  ",
         {"https://b/x/", "http://a:8080/"}, 0},
        {"scheme without regard to case", "HTTP://c/ Https://d/", {"HTTP://c/", "Https://d/"}, 0},
        {"other schemes left out and counted", "ftp://e/ http://f/ file:///g/ h/", {"http://f/"}, 3},
        {"no host", "http:// https:///x/", {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MirrorList list = ParseMirrors(c.text);
        EXPECT_EQ(list.bases, c.bases);
        EXPECT_EQ(list.skipped, c.skipped);
    }
}

TEST_F(local_config, a_long_mirrors_value_is_read_whole)
{
    std::string text;
    std::vector<std::string> bases;
    for (int i = 0; i < 30; ++i) {
        bases.push_back("http://mirror-" + std::to_string(i) + ".example.org/games/zorvath/files/");
        text += bases.back() + " ";
    }
    ASSERT_GT(text.size(), 1000u);
    const std::string path = m_dir.Write("config.ini", "[settings]\nupdate=U\nmirrors=" + text + "ftp://x/\n");
    const LocalConfig config = ReadLocalConfig(path);
    EXPECT_EQ(config.m_mirrors, bases);
    EXPECT_EQ(config.m_skippedMirrors, 1);
    const LocalConfig none = ReadLocalConfig(m_dir.Write("other.ini", "[settings]\nupdate=U\n"));
    EXPECT_TRUE(none.m_mirrors.empty());
    EXPECT_EQ(none.m_skippedMirrors, 0);
}
