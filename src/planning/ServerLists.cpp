#include "planning/ServerLists.h"

#include <algorithm>
#include <cstring>
#include <string_view>

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

NameFault UnsafeNameFault(const std::string& name)
{
    if (name.empty())
        return NameFault::Empty;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return NameFault::ControlCharacter;
    }
    if (IsSeparator(name.front()))
        return NameFault::Absolute;
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return NameFault::DriveLetter;
    if (IsSeparator(name.back()))
        return NameFault::EndsWithSeparator;
    // Components, split at every separator; the name neither starts nor ends
    // with one here, so an empty component means two separators in a row.
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string_view component(name.data() + start, end - start);
        if (component.empty())
            return NameFault::EmptyComponent;
        if (component == "..")
            return NameFault::ParentComponent;
        if (component == ".")
            return NameFault::DotComponent;
        start = end + 1;
    }
    return NameFault::None;
}

bool IsDigestText(const std::string& text)
{
    if (text.size() != 32)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

namespace {

enum class LineRead { Line, End, TooLong, ListTooLong };

// One line of at most MaxListLineBytes (after dropping a trailing CR), read
// straight from the stream buffer so a line without end never grows beyond
// the limit; consumed counts every byte taken against MaxListBytes.
LineRead ReadBoundedLine(std::istream& in, std::string& line, std::size_t& consumed)
{
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr)
        return LineRead::End;
    bool any = false;
    for (;;) {
        const auto next = buffer->sbumpc();
        if (std::char_traits<char>::eq_int_type(next, std::char_traits<char>::eof()))
            break;
        any = true;
        if (++consumed > MaxListBytes)
            return LineRead::ListTooLong;
        const char c = std::char_traits<char>::to_char_type(next);
        if (c == '\n')
            break;
        // One byte of slack for the CR that may end the line.
        if (line.size() > MaxListLineBytes)
            return LineRead::TooLong;
        line.push_back(c);
    }
    if (!any)
        return LineRead::End;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line.size() > MaxListLineBytes ? LineRead::TooLong : LineRead::Line;
}

ListRefusal Refuse(const char* list, int lineNumber, ListFault fault, NameFault nameFault = NameFault::None,
                   std::string name = {})
{
    return ListRefusal{list, lineNumber, fault, nameFault, std::move(name)};
}

} // namespace

std::optional<ListRefusal> ReadUpdateList(std::istream& in, UpdateList& list)
{
    list = UpdateList{};
    std::size_t consumed = 0;
    std::string line;
    std::string* const head[] = {&list.head.status, &list.head.version, &list.head.baseUrl};
    int number = 1;
    for (std::string* field : head) {
        const LineRead read = ReadBoundedLine(in, line, consumed);
        if (read == LineRead::TooLong)
            return Refuse(UpdateListName, number, ListFault::LineTooLong);
        if (read == LineRead::ListTooLong)
            return Refuse(UpdateListName, number, ListFault::ListTooLong);
        if (read == LineRead::End)
            return std::nullopt;
        *field = line;
        ++number;
    }
    if (!list.head.Available())
        return std::nullopt;

    for (;; ++number) {
        const LineRead read = ReadBoundedLine(in, line, consumed);
        if (read == LineRead::End)
            break;
        if (read == LineRead::TooLong)
            return Refuse(UpdateListName, number, ListFault::LineTooLong);
        if (read == LineRead::ListTooLong)
            return Refuse(UpdateListName, number, ListFault::ListTooLong);
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        std::string name = line.substr(0, comma);
        const NameFault nameFault = UnsafeNameFault(name);
        if (nameFault != NameFault::None)
            return Refuse(UpdateListName, number, ListFault::UnsafeName, nameFault, std::move(name));
        const std::size_t fieldEnd = line.find(',', comma + 1);
        const std::string digest =
            line.substr(comma + 1, fieldEnd == std::string::npos ? std::string::npos : fieldEnd - comma - 1);
        if (!IsDigestText(digest))
            return Refuse(UpdateListName, number, ListFault::BadDigest, NameFault::None, std::move(name));
        FileLine file;
        file.lineNumber = number;
        file.name = std::move(name);
        std::memcpy(file.md5.data(), digest.data(), file.md5.size());
        list.files.push_back(std::move(file));
    }
    return std::nullopt;
}

std::optional<ListRefusal> ReadSetupList(std::istream& in, std::string& name)
{
    name = ReadInstallerName(in);
    const NameFault fault = UnsafeNameFault(name);
    if (fault != NameFault::None)
        return Refuse(SetupListName, 1, ListFault::UnsafeName, fault, name);
    return std::nullopt;
}
