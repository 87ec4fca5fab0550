#include "transfer/ContentHeaders.h"

#include <string>

#include <gtest/gtest.h>

TEST(content_headers, content_length_reads_leading_digits_and_gives_0_for_unknown)
{
    struct Case {
        std::string text;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {"5000", 5000},
        {"0", 0},
        {"  \t42", 42},
        {"+7", 7},
        {"5000abc", 5000},
        {"12 34", 12},
        {"", 0},
        {"x1", 0},
        {"-5", 0},
        {"+", 0},
        {"9223372036854775807", 9223372036854775807ull},
        {"9223372036854775808", 0},
        {"99999999999999999999999", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseContentLength(c.text), c.expected) << c.text;
}

TEST(content_headers, content_range_accepts_only_a_satisfied_byte_range)
{
    struct Case {
        std::string text;
        std::optional<ContentRange> expected;
    };
    const Case cases[] = {
        {"bytes 0-4999/5000", ContentRange{0, 4999, 5000}},
        {"bytes 1000-4999/5000", ContentRange{1000, 4999, 5000}},
        {"BYTES 1-1/2", ContentRange{1, 1, 2}},
        {"bytes 0-0/*", ContentRange{0, 0, std::nullopt}},
        {"bytes  5-9/10", ContentRange{5, 9, 10}},
        {"bytes 0-9223372036854775806/9223372036854775807",
         ContentRange{0, 9223372036854775806ull, 9223372036854775807ull}},
        {"bytes */5000", std::nullopt},
        {"bytes 10-5/100", std::nullopt},
        {"bytes 0-5000/5000", std::nullopt},
        {"bytes 0-4999/5000 junk", std::nullopt},
        {"bytes 0-4999", std::nullopt},
        {"bytes 0-/5000", std::nullopt},
        {"bytes -4999/5000", std::nullopt},
        {"bytes=0-4999/5000", std::nullopt},
        {"items 0-4999/5000", std::nullopt},
        {"bytes", std::nullopt},
        {"", std::nullopt},
        {"bytes 0-1/99999999999999999999", std::nullopt},
        {"bytes +1-2/3", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseContentRange(c.text), c.expected) << c.text;
}
