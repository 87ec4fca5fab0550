#include "planning/ServerLists.h"

#include <sstream>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> AllLines(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string line;
    while (ReadListLine(in, line))
        lines.push_back(line);
    return lines;
}

std::string Md5Text(const FileLine& file)
{
    return std::string(file.md5.data(), file.md5.size());
}

} // namespace

TEST(server_lists, lines_end_at_lf_and_drop_one_trailing_cr)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"lf", "1\nv\nhttp://x/\n", {"1", "v", "http://x/"}},
        {"crlf", "1\r\nv\r\nhttp://x/\r\n", {"1", "v", "http://x/"}},
        {"last line without lf", "a\nb", {"a", "b"}},
        {"empty lines kept", "a\n\n\nb\n", {"a", "", "", "b"}},
        {"cr inside a line kept", "a\rb\r\n", {"a\rb"}},
        {"only one cr dropped", "a\r\r\n", {"a\r"}},
        {"empty stream", "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AllLines(c.text), c.lines) << c.name;
}

TEST(server_lists, head_is_available_only_when_the_status_starts_with_1)
{
    struct Case {
        std::string text;
        bool available;
    };
    const Case cases[] = {
        {"1\nv\nb\n", true},  {"1 ok\r\n", true}, {"10", true},   {"0\nv\nb\n", false},
        {" 1\n", false},      {"\n1\n", false},   {"", false},    {"\xEF\xBB\xBF" "1\n", false},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        EXPECT_EQ(ReadUpdateListHead(in).Available(), c.available) << c.text;
    }
}

TEST(server_lists, head_reads_version_and_base_line_then_stops_before_the_files)
{
    std::istringstream in("1\r\n2.3.4 beta\r\nhttp://h:8080/game/\r\nfile.bin,0123\r\n");
    const UpdateListHead head = ReadUpdateListHead(in);
    EXPECT_EQ(head.version, "2.3.4 beta");
    EXPECT_EQ(head.baseUrl, "http://h:8080/game/");
    const auto files = ReadFileLines(in);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "file.bin");
    EXPECT_EQ(files[0].lineNumber, FirstFileLineNumber);
}

TEST(server_lists, file_line_takes_the_name_before_the_first_comma_and_32_digest_bytes)
{
    const std::string digest = "0123456789abcdef0123456789abcdef";
    struct Case {
        const char* name;
        std::string line;
        bool parsed;
        std::string fileName;
        std::string md5;
    };
    const Case cases[] = {
        {"plain", "a\\b.dat," + digest, true, "a\\b.dat", digest},
        {"extra text ignored", "x," + digest + ",123 more", true, "x", digest},
        {"uppercase kept as listed", "x,0123456789ABCDEF0123456789ABCDEF", true, "x",
         "0123456789ABCDEF0123456789ABCDEF"},
        {"short digest zero filled", "x,abc", true, "x", std::string("abc") + std::string(29, '\0')},
        {"nothing after the comma", "x,", true, "x", std::string(32, '\0')},
        {"second comma is part of the digest", "x,ab,cd", true, "x", std::string("ab,cd") + std::string(27, '\0')},
        {"no comma", "just-a-name.dat", false, "", ""},
        {"empty line", "", false, "", ""},
    };
    for (const Case& c : cases) {
        const auto file = ParseFileLine(c.line, 7);
        ASSERT_EQ(file.has_value(), c.parsed) << c.name;
        if (!file)
            continue;
        EXPECT_EQ(file->name, c.fileName) << c.name;
        EXPECT_EQ(Md5Text(*file), c.md5) << c.name;
        EXPECT_EQ(file->lineNumber, 7) << c.name;
    }
}

TEST(server_lists, file_lines_without_a_comma_are_skipped_but_keep_line_numbers)
{
    std::istringstream in("a,1\r\nno comma here\r\n\r\nb,2\nc,3");
    const auto files = ReadFileLines(in);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "a");
    EXPECT_EQ(files[0].lineNumber, 4);
    EXPECT_EQ(files[1].name, "b");
    EXPECT_EQ(files[1].lineNumber, 7);
    EXPECT_EQ(files[2].name, "c");
    EXPECT_EQ(files[2].lineNumber, 8);
}

TEST(server_lists, installer_name_drops_every_cr_and_lf_and_ends_at_nul_or_512_bytes)
{
    struct Case {
        const char* name;
        std::string text;
        std::string installer;
    };
    const Case cases[] = {
        {"crlf", "setup\\game setup.exe\r\n", "setup\\game setup.exe"},
        {"second line joined", "a.exe\r\nb.exe\n", "a.exeb.exe"},
        {"nul ends the name", std::string("a.exe\0junk", 10), "a.exe"},
        {"cut at 512 bytes", std::string(600, 'x'), std::string(512, 'x')},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        EXPECT_EQ(ReadInstallerName(in), c.installer) << c.name;
    }
}

TEST(server_lists, names_that_would_leave_the_folder_are_refused)
{
    const char* safe[] = {"a.exe",  "a\\b\\c.bin", "a/b.bin", "..a", "a..b\\c..", "a\\.\\b", "setup\\x y.exe",
                          "1:2.txt"};
    for (const char* name : safe)
        EXPECT_FALSE(UnsafeNameReason(name).has_value()) << name;

    const char* unsafe[] = {"",         "\\windows\\x.dll", "/etc/passwd", "C:\\x.exe",   "c:x",
                            "..\\x",    "a\\..\\..\\b",     "a/../b",      "..",          "a\\..",
                            "a\\",      "a/",               "\\\\server\\share\\x"};
    for (const char* name : unsafe)
        EXPECT_TRUE(UnsafeNameReason(name).has_value()) << name;
}

