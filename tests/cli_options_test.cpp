#include "cli/CliOptions.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct RateCase {
    const char* text;
    std::optional<std::uint64_t> bytesPerSecond; // nothing: refused
};

const RateCase kRateCases[] = {
    {"0", 0},
    {"1000", 1000},
    {"500K", 500 * 1024},
    {"500k", 500 * 1024},
    {"2M", 2 * 1024 * 1024},
    {"2m", 2 * 1024 * 1024},
    {"1G", 1024ull * 1024 * 1024},
    {"1.5M", 1536 * 1024},
    {"0.5K", 512},
    {"10.", 10},
    {"", std::nullopt},
    {"K", std::nullopt},
    {".", std::nullopt},
    {"-1", std::nullopt},
    {"+5", std::nullopt},
    {"1e3", std::nullopt},
    {"0x10", std::nullopt},
    {"1.2.3", std::nullopt},
    {"5T", std::nullopt},
    {"5 K", std::nullopt},
    {"2KB", std::nullopt},
    {"2000G", std::nullopt},
};

TEST(parse_rate, reads_each_case_of_the_table)
{
    for (const auto& c : kRateCases)
        EXPECT_EQ(ParseRate(c.text), c.bytesPerSecond) << "'" << c.text << "'";
}

std::optional<CliOptions> Parse(std::vector<std::string> args, std::string& error)
{
    args.insert(args.begin(), "zorvath-cli");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    return ParseCliOptions(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(cli_options, limit_rate_takes_its_value_either_way_and_refuses_a_bad_one)
{
    std::string error;
    auto options = Parse({"--limit-rate", "2M"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->limitRate, 2u * 1024 * 1024);

    options = Parse({"--limit-rate=750K"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->limitRate, 750u * 1024);

    options = Parse({}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_FALSE(options->limitRate) << "without the option config.ini decides";

    EXPECT_FALSE(Parse({"--limit-rate", "fast"}, error));
    EXPECT_NE(error.find("--limit-rate"), std::string::npos) << error;
    EXPECT_FALSE(Parse({"--limit-rate"}, error));
}

} // namespace
