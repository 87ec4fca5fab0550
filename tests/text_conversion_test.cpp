#include "platform/TextConversion.h"

#include <string>

#include <gtest/gtest.h>

namespace {

struct EscapeCase {
    const char* label;
    std::string input;
    std::string expected;
};

} // namespace

TEST(text_conversion, escape_control_characters_follows_the_table)
{
    using namespace std::string_literals;
    const EscapeCase cases[] = {
        {"plain ascii", "update.txt", "update.txt"},
        {"empty", "", ""},
        {"chinese kept", "游戏\\client.exe", "游戏\\client.exe"},
        {"four-byte kept", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"escape sequence", "\x1B[2J", "\\x1b[2J"},
        {"bell, cr, lf, tab", "a\x07\r\n\tb", "a\\x07\\x0d\\x0a\\x09b"},
        {"nul in the middle", "a\0b"s, "a\\x00b"},
        {"delete", "x\x7Fy", "x\\x7fy"},
        {"c1 csi", "\xC2\x9B" "31m", "\\u009b31m"},
        {"c1 first and last", "\xC2\x80\xC2\x9F", "\\u0080\\u009f"},
        {"just past c1 kept", "\xC2\xA0", "\xC2\xA0"},
        {"stray continuation", "a\x80z", "a\\x80z"},
        {"truncated sequence", "\xE6\xB8", "\\xe6\\xb8"},
        {"overlong slash", "\xC0\xAF", "\\xc0\\xaf"},
        {"overlong escape", "\xC0\x9B", "\\xc0\\x9b"},
        {"surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
        {"past u+10ffff", "\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"lead byte ff", "\xFF", "\\xff"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeControlCharacters(c.input), c.expected) << c.label;
}

TEST(text_conversion, escaped_text_holds_no_control_byte_whatever_the_input)
{
    // Every single byte and every pair of bytes: what comes out is printable.
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const std::string input{static_cast<char>(first), static_cast<char>(second)};
            const std::string out = EscapeControlCharacters(input);
            for (std::size_t i = 0; i < out.size(); ++i) {
                const auto byte = static_cast<unsigned char>(out[i]);
                ASSERT_FALSE(byte < 0x20 || byte == 0x7F) << first << ' ' << second;
                if (byte == 0xC2 && i + 1 < out.size()) {
                    ASSERT_GT(static_cast<unsigned char>(out[i + 1]), 0x9F) << first << ' ' << second;
                }
            }
        }
    }
}
