#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "planning/Md5.h"
#include "planning/ServerLists.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the publisher with the arguments and returns its exit status.
int Publish(const std::string& arguments)
{
    const std::string command = std::string(ZORVATH_BIN_DIR) + "/zorvath-publish " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(publisher, lists_every_file_below_the_folder_in_a_stable_order_with_lowercase_digests)
{
    TempDir dir;
    dir.Write("setup/install.sh", "#!/bin/sh\n");
    dir.Write("data/b/level2.pak", std::string(70000, 'z'));
    dir.Write("data/a.pak", "alpha");
    dir.Write("readme", "");
    const std::string folder = Quote(dir.Path().string());

    ASSERT_EQ(Publish("--base-url http://127.0.0.1:9/game --installer setup/install.sh --game-version '2.0 beta' " +
                      folder),
              0);
    const std::string firstUpdate = ReadFileText(dir.Path() / "update.txt");
    EXPECT_EQ(ReadFileText(dir.Path() / "setup.txt"), "setup\\install.sh\n");

    std::istringstream in(firstUpdate);
    const UpdateListHead head = ReadUpdateListHead(in);
    EXPECT_TRUE(head.Available());
    EXPECT_EQ(head.version, "2.0 beta");
    EXPECT_EQ(head.baseUrl, "http://127.0.0.1:9/game/");
    const auto files = ReadFileLines(in);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"data\\a.pak", Md5Of("alpha")},
        {"data\\b\\level2.pak", Md5Of(std::string(70000, 'z'))},
        {"readme", Md5Of("")},
        {"setup\\install.sh", Md5Of("#!/bin/sh\n")},
    };
    ASSERT_EQ(files.size(), expected.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].name, expected[i].first);
        EXPECT_EQ(std::string(files[i].md5.data(), 32), expected[i].second);
    }

    // Publishing again leaves its own lists out and gives the same bytes;
    // --version with a value is the earlier spelling of --game-version.
    ASSERT_EQ(Publish("--base-url http://127.0.0.1:9/game --installer setup/install.sh --version '2.0 beta' " +
                      folder),
              0);
    EXPECT_EQ(ReadFileText(dir.Path() / "update.txt"), firstUpdate);

    ASSERT_EQ(Publish("--base-url http://127.0.0.1:9/game/ --installer 'setup\\install.sh' --maintenance " + folder),
              0);
    std::istringstream maintenance(ReadFileText(dir.Path() / "update.txt"));
    const UpdateListHead closed = ReadUpdateListHead(maintenance);
    EXPECT_FALSE(closed.Available());
    EXPECT_EQ(closed.version, "");
    EXPECT_EQ(closed.baseUrl, "http://127.0.0.1:9/game/");
}

TEST(publisher, refuses_what_the_lists_cannot_carry)
{
    TempDir dir;
    dir.Write("run.sh", "x");
    const std::string folder = Quote(dir.Path().string());
    TempDir commas;
    commas.Write("run.sh", "x");
    commas.Write("a,b.dat", "y");

    struct Case {
        const char* name;
        std::string arguments;
        int status;
    };
    const Case cases[] = {
        {"no folder", "--base-url http://h/ --installer run.sh", 2},
        {"no base url", "--installer run.sh " + folder, 2},
        {"no installer", "--base-url http://h/ " + folder, 2},
        {"unknown option", "--base-url http://h/ --installer run.sh --fast " + folder, 2},
        {"version line without its text", "--base-url http://h/ --installer run.sh " + folder + " --game-version", 2},
        {"earlier spelling without its text", "--base-url http://h/ --installer run.sh " + folder + " --version", 2},
        {"installer outside", "--base-url http://h/ --installer ../run.sh " + folder, 2},
        {"installer missing", "--base-url http://h/ --installer setup.exe " + folder, 1},
        {"folder missing", "--base-url http://h/ --installer run.sh " + folder + "/nothing", 1},
        {"name with a comma", "--base-url http://h/ --installer run.sh " + Quote(commas.Path().string()), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Publish(c.arguments), c.status) << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir.Path() / "update.txt")) << c.name;
        EXPECT_FALSE(std::filesystem::exists(commas.Path() / "update.txt")) << c.name;
    }
}
