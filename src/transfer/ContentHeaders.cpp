#include "transfer/ContentHeaders.h"

#include <cstdint>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Decimal digits from text[i] on; nothing when there are none or the value
// passes INT64_MAX. i ends after the digits.
std::optional<std::uint64_t> ReadNumber(std::string_view text, std::size_t& i)
{
    std::uint64_t value = 0;
    const std::size_t begin = i;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (static_cast<std::uint64_t>(INT64_MAX) - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == begin)
        return std::nullopt;
    return value;
}

} // namespace

std::uint64_t ParseContentLength(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    return ReadNumber(text, i).value_or(0);
}

std::optional<ContentRange> ParseContentRange(std::string_view text)
{
    constexpr std::string_view unit = "bytes";
    if (text.size() < unit.size())
        return std::nullopt;
    for (std::size_t k = 0; k < unit.size(); ++k) {
        const char c = text[k] >= 'A' && text[k] <= 'Z' ? static_cast<char>(text[k] - 'A' + 'a') : text[k];
        if (c != unit[k])
            return std::nullopt;
    }
    std::size_t i = unit.size();
    if (i >= text.size() || text[i] != ' ')
        return std::nullopt;
    while (i < text.size() && text[i] == ' ')
        ++i;

    ContentRange range;
    const auto first = ReadNumber(text, i);
    if (!first || i >= text.size() || text[i] != '-')
        return std::nullopt;
    ++i;
    const auto last = ReadNumber(text, i);
    if (!last || i >= text.size() || text[i] != '/')
        return std::nullopt;
    ++i;
    range.first = *first;
    range.last = *last;
    if (range.last < range.first)
        return std::nullopt;
    if (i < text.size() && text[i] == '*') {
        ++i;
    } else {
        const auto total = ReadNumber(text, i);
        if (!total || range.last >= *total)
            return std::nullopt;
        range.total = total;
    }
    if (i != text.size())
        return std::nullopt;
    return range;
}

bool RangeAnswersRequest(const std::optional<ContentRange>& range, std::uint64_t start, std::uint64_t size)
{
    if (!range || range->first != start)
        return false;
    return size == 0 || !range->total || *range->total == size;
}
