#include "planning/ServerLists.h"

#include <sstream>
#include <streambuf>

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
    const char* safe[] = {"a.exe",  "a\\b\\c.bin", "a/b.bin", "..a", "a..b\\c..", "setup\\x y.exe",
                          "1:2.txt"};
    for (const char* name : safe)
        EXPECT_EQ(UnsafeNameFault(name), NameFault::None) << name;

    const char* unsafe[] = {"",         "\\windows\\x.dll", "/etc/passwd", "C:\\x.exe",   "c:x",
                            "..\\x",    "a\\..\\..\\b",     "a/../b",      "..",          "a\\..",
                            "a\\",      "a/",               "\\\\server\\share\\x", "a\\.\\b",
                            "sub\\.",  "a\\\\b",         "a//b",        "a\tb",       "a\x7f"};
    for (const char* name : unsafe)
        EXPECT_NE(UnsafeNameFault(name), NameFault::None) << name;
}


TEST(server_lists, name_fault_names_the_first_rule_broken)
{
    using namespace std::string_literals;
    struct Case {
        std::string name;
        NameFault fault;
    };
    const Case cases[] = {
        {"a\\b.dat", NameFault::None},
        {"..a\\b..", NameFault::None},
        {"", NameFault::Empty},
        {"\\x", NameFault::Absolute},
        {"/x", NameFault::Absolute},
        {"D:x", NameFault::DriveLetter},
        {"a\\..\\b", NameFault::ParentComponent},
        {"sub\\", NameFault::EndsWithSeparator},
        {"a\\\\b", NameFault::EmptyComponent},
        {"a/\\b", NameFault::EmptyComponent},
        {".", NameFault::DotComponent},
        {"sub\\.", NameFault::DotComponent},
        {".\\a", NameFault::DotComponent},
        {"a\0../../etc/passwd"s, NameFault::ControlCharacter},
        {"a\x1b[2Jb", NameFault::ControlCharacter},
        {"a\x01", NameFault::ControlCharacter},
        {"a\x7f", NameFault::ControlCharacter},
        {"a\rb", NameFault::ControlCharacter},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnsafeNameFault(c.name), c.fault) << c.name;
    }
}

namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef";
const std::string kHead = "1\r\nv1\r\nhttp://h/g/\r\n";

} // namespace

TEST(server_lists, update_list_is_refused_at_the_first_bad_line)
{
    using namespace std::string_literals;
    struct Case {
        const char* label;
        std::string text;
        ListFault fault;
        int line;
        NameFault nameFault;
    };
    const Case cases[] = {
        {"accepted", kHead + "a\\b," + kDigest + "\r\nno comma\r\n\r\nc," + kDigest, ListFault::None, 0,
         NameFault::None},
        {"uppercase digest accepted", kHead + "a,0123456789ABCDEF0123456789ABCDEF\n", ListFault::None, 0,
         NameFault::None},
        {"size after the digest accepted", kHead + "a," + kDigest + ",123\n", ListFault::None, 0, NameFault::None},
        {"short digest", kHead + "a," + kDigest + "\nb,abc\n", ListFault::BadDigest, 5, NameFault::None},
        {"empty digest", kHead + "a,\n", ListFault::BadDigest, 4, NameFault::None},
        {"digest too long", kHead + "a," + kDigest + "0\n", ListFault::BadDigest, 4, NameFault::None},
        {"digest not hex", kHead + "a,0123456789abcdeg0123456789abcdef\n", ListFault::BadDigest, 4,
         NameFault::None},
        {"digest with space", kHead + "a, 123456789abcdef0123456789abcdef\n", ListFault::BadDigest, 4,
         NameFault::None},
        {"dot component", kHead + "sub\\.," + kDigest + "\n", ListFault::UnsafeName, 4, NameFault::DotComponent},
        {"nul in name", kHead + "x," + kDigest + "\nok\0../../x,"s + kDigest + "\n", ListFault::UnsafeName, 5,
         NameFault::ControlCharacter},
        {"empty name", kHead + "," + kDigest + "\n", ListFault::UnsafeName, 4, NameFault::Empty},
        {"escape in name", kHead + "\x1b]0;pwned\x07," + kDigest + "\n", ListFault::UnsafeName, 4,
         NameFault::ControlCharacter},
        {"parent", kHead + "..\\x," + kDigest + "\n", ListFault::UnsafeName, 4, NameFault::ParentComponent},
        {"long file line", kHead + std::string(MaxListLineBytes + 1, 'x') + "\n", ListFault::LineTooLong, 4,
         NameFault::None},
        {"long head line", "1\n" + std::string(MaxListLineBytes + 1, 'v') + "\n", ListFault::LineTooLong, 2,
         NameFault::None},
        {"long line without end", kHead + std::string(MaxListLineBytes + 1, 'x'), ListFault::LineTooLong, 4,
         NameFault::None},
        // A maintenance list is not looked at past its head.
        {"maintenance skips file lines", "0\nv\nb\n..\\x,1\n", ListFault::None, 0, NameFault::None},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        UpdateList list;
        const auto refusal = ReadUpdateList(in, list);
        if (c.fault == ListFault::None) {
            EXPECT_FALSE(refusal.has_value()) << c.label;
            continue;
        }
        ASSERT_TRUE(refusal.has_value()) << c.label;
        EXPECT_EQ(refusal->list, UpdateListName) << c.label;
        EXPECT_EQ(refusal->fault, c.fault) << c.label;
        EXPECT_EQ(refusal->lineNumber, c.line) << c.label;
        EXPECT_EQ(refusal->nameFault, c.nameFault) << c.label;
    }
}

TEST(server_lists, accepted_update_list_keeps_head_names_digests_and_line_numbers)
{
    std::istringstream in(kHead + "a\\b," + kDigest + "\r\nno comma\r\nc,0123456789ABCDEF0123456789ABCDEF");
    UpdateList list;
    ASSERT_FALSE(ReadUpdateList(in, list).has_value());
    EXPECT_TRUE(list.head.Available());
    EXPECT_EQ(list.head.version, "v1");
    EXPECT_EQ(list.head.baseUrl, "http://h/g/");
    ASSERT_EQ(list.files.size(), 2u);
    EXPECT_EQ(list.files[0].name, "a\\b");
    EXPECT_EQ(list.files[0].lineNumber, 4);
    EXPECT_EQ(Md5Text(list.files[0]), kDigest);
    EXPECT_EQ(list.files[1].name, "c");
    EXPECT_EQ(list.files[1].lineNumber, 6);
    EXPECT_EQ(Md5Text(list.files[1]), "0123456789ABCDEF0123456789ABCDEF");
}

TEST(server_lists, line_of_exactly_the_limit_is_accepted_with_or_without_cr)
{
    const std::string name(MaxListLineBytes - 33, 'n');
    for (const char* end : {"\n", "\r\n", ""}) {
        std::istringstream in(kHead + name + "," + kDigest + end);
        UpdateList list;
        EXPECT_FALSE(ReadUpdateList(in, list).has_value()) << end;
        ASSERT_EQ(list.files.size(), 1u);
        EXPECT_EQ(list.files[0].name.size() + 33, MaxListLineBytes);
    }
}

namespace {

// An endless list: the head, then the same short file line for ever. Counts
// what was taken so the test can see the reader stopped at the limit.
class EndlessList final : public std::streambuf {
public:
    EndlessList() : m_text(kHead + "a," + kDigest + "\n") { setg(m_text.data(), m_text.data(), m_text.data() + m_text.size()); }

    std::size_t handedOut = 0;

protected:
    int_type underflow() override
    {
        handedOut += m_text.size();
        if (m_first) {
            m_first = false;
            m_text = "a," + kDigest + "\n";
        }
        setg(m_text.data(), m_text.data(), m_text.data() + m_text.size());
        return traits_type::to_int_type(m_text[0]);
    }

private:
    std::string m_text;
    bool m_first = true;
};

} // namespace

TEST(server_lists, endless_update_list_is_refused_once_it_passes_the_list_limit)
{
    EndlessList endless;
    std::istream in(&endless);
    UpdateList list;
    const auto refusal = ReadUpdateList(in, list);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->fault, ListFault::ListTooLong);
    EXPECT_LE(endless.handedOut, MaxListBytes + 64);
    // 35 bytes a line after the 21-byte head: the limit falls in this line.
    const std::size_t lineBytes = 35;
    EXPECT_EQ(refusal->lineNumber, static_cast<int>(4 + (MaxListBytes - kHead.size()) / lineBytes));
    EXPECT_TRUE(list.files.empty() || list.files.size() < MaxListBytes / lineBytes);
}

TEST(server_lists, setup_list_refuses_unsafe_installer_names_as_line_1)
{
    using namespace std::string_literals;
    struct Case {
        std::string text;
        NameFault fault;
        std::string name;
    };
    const Case cases[] = {
        {"setup\\game.exe\r\n", NameFault::None, "setup\\game.exe"},
        {"game.exe\0padding"s, NameFault::None, "game.exe"},
        {"..\\..\\bin\\sh\r\n", NameFault::ParentComponent, "..\\..\\bin\\sh"},
        {"setup\\.\r\n", NameFault::DotComponent, "setup\\."},
        {"\x1b[31mgame.exe\n", NameFault::ControlCharacter, "\x1b[31mgame.exe"},
        {"\r\n", NameFault::Empty, ""},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        std::string name;
        const auto refusal = ReadSetupList(in, name);
        EXPECT_EQ(name, c.name);
        if (c.fault == NameFault::None) {
            EXPECT_FALSE(refusal.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(refusal.has_value()) << c.name;
        EXPECT_EQ(refusal->list, SetupListName);
        EXPECT_EQ(refusal->lineNumber, 1);
        EXPECT_EQ(refusal->fault, ListFault::UnsafeName);
        EXPECT_EQ(refusal->nameFault, c.fault);
        EXPECT_EQ(refusal->name, c.name);
    }
}
