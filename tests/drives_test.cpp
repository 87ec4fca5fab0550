#include "platform/Drives.h"

#include <clocale>
#include <cstdlib>
#include <set>
#include <string>

#include <langinfo.h>

#include <gtest/gtest.h>

#include "platform/FixedDrives.h"
#include "platform/TextConversion.h"

TEST(drives, system_list_starts_with_home_and_every_root_ends_with_a_slash)
{
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    const auto roots = SystemDrives().List();
    ASSERT_FALSE(roots.empty());
    std::string expectedHome = home;
    if (expectedHome.back() != '/')
        expectedHome += '/';
    EXPECT_EQ(roots.front().root, expectedHome);
    EXPECT_EQ(roots.front().type, DriveType::Fixed);
    std::set<std::string> seen;
    for (const auto& drive : roots) {
        EXPECT_TRUE(drive.root.starts_with('/') && drive.root.ends_with('/')) << drive.root;
        EXPECT_TRUE(seen.insert(drive.root).second) << "listed twice: " << drive.root;
    }
    EXPECT_TRUE(SystemDrives().FreeBytes(expectedHome).has_value());
    // A folder not made yet counts on the volume of its nearest parent.
    EXPECT_TRUE(SystemDrives().FreeBytes(expectedHome + "no/such/folder/").has_value());
}

TEST(drives, fixed_list_answers_free_space_for_the_longest_root)
{
    const FixedDrives drives({{"/a/", DriveType::Fixed}, {"/a/b/", DriveType::Removable}},
                             {{"/a/", 100}, {"/a/b/", 5}});
    EXPECT_EQ(drives.List().size(), 2u);
    EXPECT_EQ(drives.FreeBytes("/a/x/"), 100u);
    EXPECT_EQ(drives.FreeBytes("/a/b/Games/"), 5u);
    EXPECT_EQ(drives.FreeBytes("/c/"), std::nullopt);
}

TEST(text_conversion, listed_names_and_utf8_text)
{
    EXPECT_EQ(ListedNameToLocalPath("data\\maps\\a.pak"), "data/maps/a.pak");
    std::setlocale(LC_ALL, "");
    const std::string charset = nl_langinfo(CODESET);
    if (charset != "UTF-8" && charset != "ANSI_X3.4-1968")
        GTEST_SKIP() << "locale charset " << charset;
    // In UTF-8 and C locales text passes unchanged.
    EXPECT_EQ(LocaleToUtf8("版本 1.0"), "版本 1.0");
    EXPECT_EQ(Utf8ToLocale("版本 1.0"), "版本 1.0");
}
