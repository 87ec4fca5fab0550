#include "transfer/HttpRequestText.h"

#include <cinttypes>
#include <cstdio>

const std::string& FileRequestAcceptBlock()
{
    static const std::string text = "Accept: */*\r\nAccept-Language: zh-cn\r\nContent-Type: multipart/form-data;\r\n";
    return text;
}

const std::string& FileRequestClientBlock()
{
    static const std::string text = "UA-CPU: x86\r\nAccept-Encoding: identity\r\nCache-Control: no-cache\r\n";
    return text;
}

std::string RangeLine(std::uint64_t first, std::uint64_t last)
{
    char line[80];
    std::snprintf(line, sizeof line, "Range: bytes=%" PRIu64 "-%" PRIu64 "\r\n", first, last);
    return line;
}

std::string OpenRangeLine(std::uint64_t first)
{
    char line[64];
    std::snprintf(line, sizeof line, "Range: bytes=%" PRIu64 "-\r\n", first);
    return line;
}

std::uint64_t ParseContentLength(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    std::uint64_t value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (static_cast<std::uint64_t>(INT64_MAX) - digit) / 10)
            return 0;
        value = value * 10 + digit;
        digits = true;
    }
    return digits ? value : 0;
}

std::uint64_t ParseContentRangeTotal(const std::string& text)
{
    const auto slash = text.rfind('/');
    if (slash == std::string::npos)
        return 0;
    return ParseContentLength(text.substr(slash + 1));
}
