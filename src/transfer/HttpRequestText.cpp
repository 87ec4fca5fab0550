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

bool SplitHeaderLine(const std::string& line, std::string& name, std::string& value)
{
    const auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || line[0] == ' ' || line[0] == '\t')
        return false;
    name = line.substr(0, colon);
    const auto first = line.find_first_not_of(" \t\r\n", colon + 1);
    if (first == std::string::npos) {
        value.clear();
        return true;
    }
    const auto last = line.find_last_not_of(" \t\r\n");
    value = line.substr(first, last - first + 1);
    return true;
}
