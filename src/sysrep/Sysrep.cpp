// The machine-info report library this project ships for development and
// tests: each call appends one line with its six arguments, tab-separated, to
// the file named by SYSREP_LOG, and does nothing when that is unset. Tabs,
// line ends and backslashes inside the texts are written as \t, \n, \r, \\.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

void AppendField(std::string& line, const char* text)
{
    if (text == nullptr)
        return;
    for (; *text != '\0'; ++text) {
        switch (*text) {
        case '\t': line += "\\t"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        case '\\': line += "\\\\"; break;
        default: line += *text;
        }
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t
GetAndSendMachineInfo(const char* iniPath, const char* version, const char* steps, std::int32_t first,
                      std::int32_t second, std::int32_t third)
{
    const char* logPath = std::getenv("SYSREP_LOG");
    if (logPath == nullptr || *logPath == '\0')
        return 0;
    std::string line;
    AppendField(line, iniPath);
    line += '\t';
    AppendField(line, version);
    line += '\t';
    AppendField(line, steps);
    line += '\t' + std::to_string(first) + '\t' + std::to_string(second) + '\t' + std::to_string(third) + '\n';
    const int fd = ::open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // One write with O_APPEND: lines from several callers never interleave.
    const ssize_t wrote = ::write(fd, line.data(), line.size());
    ::close(fd);
    return wrote == static_cast<ssize_t>(line.size()) ? 1 : 0;
}
