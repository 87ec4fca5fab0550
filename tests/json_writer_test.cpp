// The console client's JSON lines: strings escaped so that no text (a
// hostile file name, a server's message) can break a line or the JSON, and
// objects that a real parser reads back as written.
#include "cli/JsonWriter.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

struct EscapeCase {
    const char* name;
    std::string text;
    std::string written; // between the quotes
    std::string decoded; // what a parser reads back
};

void PrintTo(const EscapeCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kReplacement = "\xEF\xBF\xBD";

const EscapeCase kEscapeCases[] = {
    {"plain_ascii", "level 3.map", "level 3.map", "level 3.map"},
    {"quote_and_backslash", R"(say "hi" \ there)", R"(say \"hi\" \\ there)", R"(say "hi" \ there)"},
    {"short_escapes", "\b\f\n\r\t", R"(\b\f\n\r\t)", "\b\f\n\r\t"},
    {"other_controls_and_del", "\x01\x1b[31m\x1f\x7f", R"(\u0001\u001b[31m\u001f\u007f)", "\x01\x1b[31m\x1f\x7f"},
    {"nul_inside", std::string("a\0b", 3), R"(a\u0000b)", std::string("a\0b", 3)},
    {"chinese_and_emoji_kept", "下载完成! \xF0\x9F\x98\x80", "下载完成! \xF0\x9F\x98\x80", "下载完成! \xF0\x9F\x98\x80"},
    {"highest_code_point_kept", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    {"line_and_paragraph_separators", "a\xE2\x80\xA8" "b\xE2\x80\xA9", R"(a\u2028b\u2029)", "a\xE2\x80\xA8" "b\xE2\x80\xA9"},
    {"stray_continuation_byte", "a\x80z", R"(a\ufffdz)", "a" + kReplacement + "z"},
    {"latin1_byte", "caf\xE9.bin", R"(caf\ufffd.bin)", "caf" + kReplacement + ".bin"},
    {"lead_bytes_never_used", "\xC0\xAF\xFF", R"(\ufffd\ufffd\ufffd)", kReplacement + kReplacement + kReplacement},
    {"truncated_at_the_end", "x\xE6\xA3", R"(x\ufffd)", "x" + kReplacement},
    {"truncated_before_a_quote", "\xF0\x9F\x98\"", R"(\ufffd\")", kReplacement + "\""},
    {"overlong_three_bytes", "\xE0\x80\xAF", R"(\ufffd\ufffd\ufffd)", kReplacement + kReplacement + kReplacement},
    {"surrogate", "\xED\xA0\x80", R"(\ufffd\ufffd\ufffd)", kReplacement + kReplacement + kReplacement},
    {"above_the_last_code_point", "\xF4\x90\x80\x80", R"(\ufffd\ufffd\ufffd\ufffd)",
     kReplacement + kReplacement + kReplacement + kReplacement},
    {"hostile_file_name", "evil\"\n\x1b]0;pwned\x07\xFF.bin", R"(evil\"\n\u001b]0;pwned\u0007\ufffd.bin)",
     "evil\"\n\x1b]0;pwned\x07" + kReplacement + ".bin"},
};

class JsonStringEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStringEscape, writes_escapes_that_a_parser_reads_back)
{
    const EscapeCase& c = GetParam();
    std::string written = "prefix:";
    AppendJsonString(written, c.text);

    EXPECT_EQ(written, "prefix:\"" + c.written + "\"") << "appends, quotes included";
    EXPECT_EQ(written.find('\n'), std::string::npos);
    const json parsed = json::parse(written.substr(7)); // throws on invalid UTF-8 or escapes
    EXPECT_EQ(parsed.get<std::string>(), c.decoded);
}

INSTANTIATE_TEST_SUITE_P(json_writer, JsonStringEscape, ::testing::ValuesIn(kEscapeCases),
                         [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

TEST(json_object, members_in_order_on_one_line_with_their_types)
{
    JsonObject object;
    object.Add("event", "file-end")
        .Add("name", std::string("a\nb"))
        .Add("entry", 7)
        .Add("negative", -3)
        .Add("size", std::numeric_limits<std::uint64_t>::max())
        .Add("done", true)
        .Add("paused", false);

    const std::string line = object.Line();
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    EXPECT_EQ(line, "{\"event\":\"file-end\",\"name\":\"a\\nb\",\"entry\":7,\"negative\":-3,"
                    "\"size\":18446744073709551615,\"done\":true,\"paused\":false}\n");
    const json parsed = json::parse(line);
    EXPECT_EQ(parsed["event"], "file-end") << "a string literal stays a string";
    EXPECT_EQ(parsed["size"].get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(parsed["done"], true);
}

TEST(json_object, empty_object_is_still_a_line)
{
    EXPECT_EQ(JsonObject().Line(), "{}\n");
}

} // namespace
