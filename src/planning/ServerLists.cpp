#include "planning/ServerLists.h"

#include <algorithm>
#include <cstring>

bool ReadListLine(std::istream& in, std::string& line)
{
    line.clear();
    if (!std::getline(in, line)) {
        // getline fails at the end only when nothing at all was read.
        return false;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

UpdateListHead ReadUpdateListHead(std::istream& in)
{
    UpdateListHead head;
    ReadListLine(in, head.status) && ReadListLine(in, head.version) && ReadListLine(in, head.baseUrl);
    return head;
}

std::optional<FileLine> ParseFileLine(const std::string& line, int lineNumber)
{
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos)
        return std::nullopt;
    FileLine file;
    file.lineNumber = lineNumber;
    file.name = line.substr(0, comma);
    file.md5.fill(0);
    // A short digest field keeps zeros in the rest: never read past the line,
    // and such a file always differs from what is on disk.
    const std::size_t available = std::min<std::size_t>(file.md5.size(), line.size() - comma - 1);
    std::memcpy(file.md5.data(), line.data() + comma + 1, available);
    return file;
}

std::vector<FileLine> ReadFileLines(std::istream& in, int firstLineNumber)
{
    std::vector<FileLine> files;
    std::string line;
    for (int number = firstLineNumber; ReadListLine(in, line); ++number) {
        auto file = ParseFileLine(line, number);
        if (file)
            files.push_back(std::move(*file));
    }
    return files;
}

std::string ReadInstallerName(std::istream& in)
{
    char buffer[SetupListBytes] = {};
    in.read(buffer, sizeof buffer);
    const std::size_t read = static_cast<std::size_t>(in.gcount());
    std::string name(buffer, std::find(buffer, buffer + read, '\0'));
    std::erase_if(name, [](char c) { return c == '\r' || c == '\n'; });
    return name;
}

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

std::optional<std::string> UnsafeNameReason(const std::string& name)
{
    if (name.empty())
        return std::string("没有文件名");
    if (IsSeparator(name.front()))
        return std::string("是绝对路径");
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return std::string("带有盘符");
    if (IsSeparator(name.back()))
        return std::string("没有文件名");
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        if (name.compare(start, end - start, "..") == 0)
            return std::string("含有\"..\"");
        start = end + 1;
    }
    return std::nullopt;
}
