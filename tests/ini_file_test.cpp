#include "platform/IniFile.h"

#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

TEST(ini_file, reads_values_by_the_settings_rules)
{
    const std::string longValue(600, 'u');
    std::string wide;
    for (int i = 0; i < 600; ++i)
        wide += "界";
    const struct {
        const char* name;
        std::string content;
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {
        {"plain", "[settings]\nupdate=http://a/u.txt\n", "settings", "update", "http://a/u.txt"},
        {"names ignore case", "[Settings]\nUpDate=x\n", "settings", "update", "x"},
        {"blanks trimmed", "[settings]\n  update  =  x y \t\n", "settings", "update", "x y"},
        {"double quotes removed", "[settings]\nupdate=\" x \"\n", "settings", "update", " x "},
        {"single quotes removed", "[settings]\nupdate='x'\n", "settings", "update", "x"},
        {"unpaired quote kept", "[settings]\nupdate=\"x\n", "settings", "update", "\"x"},
        {"first equals splits", "[settings]\nupdate=a=b\n", "settings", "update", "a=b"},
        {"semicolon inside a value kept", "[settings]\nupdate=a;b\n", "settings", "update", "a;b"},
        {"comment line skipped", "[settings]\n;update=old\nupdate=new\n", "settings", "update", "new"},
        {"crlf line ends", "[settings]\r\nupdate=x\r\ndir=Games\r\n", "settings", "dir", "Games"},
        {"utf-8 bom", "\xEF\xBB\xBF[settings]\nupdate=x\n", "settings", "update", "x"},
        {"utf-8 text", "[settings]\ndir=游戏\n", "settings", "dir", "游戏"},
        {"empty value", "[settings]\nupdate=\n", "settings", "update", ""},
        {"missing key", "[settings]\nsetup=x\n", "settings", "update", ""},
        {"missing section", "[other]\nupdate=x\n", "settings", "update", ""},
        {"key of another section", "[settings]\na=1\n[other]\nupdate=x\n", "settings", "update", ""},
        {"600 characters cut to 511", "[settings]\nupdate=" + longValue + "\n", "settings", "update",
         longValue.substr(0, 511)},
        {"cut counts characters, not bytes", "[settings]\ndir=" + wide + "\n", "settings", "dir",
         wide.substr(0, 511 * 3)},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.Write("config.ini", c.content);
        EXPECT_EQ(ReadIniValue(path, c.section, c.key), c.expected) << c.name;
    }
}

TEST(ini_file, missing_file_gives_empty_text)
{
    TempDir dir;
    EXPECT_EQ(ReadIniValue(dir.Folder() + "config.ini", "settings", "update"), "");
}
