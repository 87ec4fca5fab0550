#include "cli/CliOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "app/LocalConfig.h"

namespace {

bool ParseCount(const std::string& text, int& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    value = std::atoi(text.c_str());
    return true;
}

bool ParseSeconds(const std::string& text, double& value)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(parsed) || parsed > 86400.0)
        return false;
    value = parsed;
    return true;
}

} // namespace

std::optional<std::uint64_t> ParseRate(const std::string& text)
{
    std::string number = text;
    double unit = 1;
    if (!number.empty()) {
        switch (number.back()) {
        case 'k': case 'K': unit = 1024.0; break;
        case 'm': case 'M': unit = 1024.0 * 1024; break;
        case 'g': case 'G': unit = 1024.0 * 1024 * 1024; break;
        default: break;
        }
        if (unit != 1)
            number.pop_back();
    }
    // Digits with at most one point among them; strtod alone would take
    // signs, exponents and hexadecimal.
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos
        || number.find('.') != number.rfind('.') || number == ".")
        return std::nullopt;
    errno = 0;
    const double bytes = std::strtod(number.c_str(), nullptr) * unit;
    // A terabyte per second is past any line.
    if (errno != 0 || !std::isfinite(bytes) || bytes > 1e12)
        return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

std::string CliUsage()
{
    return "Usage: zorvath-cli [OPTION]...\n"
           "Downloads the game's installer and files named by the server lists of\n"
           "./config.ini, resuming what was half fetched, and checks each by MD5.\n"
           "\n"
           "  --config FILE         read the settings from FILE instead of ./config.ini\n"
           "  --folder DIR          download into DIR (as if chosen with the change-folder button)\n"
           "  --install             launch the installer once every file is present\n"
           "  --retries N           resume after up to N failures in a row on one file (default 5)\n"
           "  --retry-wait SECONDS  wait before such a resume (default 5)\n"
           "  --connections N       fetch up to N files at once, 1 to 64 (default: config.ini's\n"
           "                        \"connections\", else 6); 1 fetches one file after the other\n"
           "  --limit-rate RATE     download at most RATE bytes per second over all files\n"
           "                        together: 500K, 2M, 1G or a number of bytes; 0 for no\n"
           "                        limit (default: config.ini's \"limit\" in KiB/s)\n"
           "  --verify              hash every present file again instead of trusting the\n"
           "                        digests remembered from earlier runs\n"
           "  --quiet               print no progress, only failure messages\n"
           "  --json                write one JSON event object per line to standard output\n"
           "                        (phases, progress, files, messages, result) and nothing\n"
           "                        else; other text goes to standard error\n"
           "  --help                print this help and exit\n"
           "  --version             print the version and exit\n"
           "\n"
           "Exit status: 0 every file present (and the installer launched with --install);\n"
           "1 the server lists could not be fetched or read, the server is under maintenance,\n"
           "or a list was refused; 2 wrong usage or no download folder; 3 a file still failed\n"
           "after the retries, or the installer could not be started; 4 not enough disk space;\n"
           "130 interrupted.\n";
}

std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error)
{
    CliOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                hasInlineValue = true;
            }
        }
        const bool takesValue =
            arg == "--config" || arg == "--folder" || arg == "--retries" || arg == "--retry-wait" ||
                                arg == "--connections" || arg == "--limit-rate";
        if (takesValue && !hasInlineValue) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return std::nullopt;
            }
            value = argv[++i];
        } else if (!takesValue && hasInlineValue) {
            error = "option " + arg + " takes no value";
            return std::nullopt;
        }

        if (arg == "--config") {
            if (value.empty()) {
                error = "--config needs a file name";
                return std::nullopt;
            }
            options.configPath = value;
            options.configGiven = true;
        } else if (arg == "--folder") {
            if (value.empty()) {
                error = "--folder needs a folder name";
                return std::nullopt;
            }
            options.folder = value;
        } else if (arg == "--retries") {
            if (!ParseCount(value, options.retries)) {
                error = "--retries needs a whole number of 0 or more, not '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--retry-wait") {
            if (!ParseSeconds(value, options.retryWait)) {
                error = "--retry-wait needs a number of seconds (0 to 86400), not '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--connections") {
            options.connections = ParseConnections(value);
            if (!options.connections) {
                error = "--connections needs a whole number from 1 to " + std::to_string(MaxConnections) +
                        ", not '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--limit-rate") {
            options.limitRate = ParseRate(value);
            if (!options.limitRate) {
                error = "--limit-rate needs a rate such as 500K, 2M or a number of bytes, not '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg == "--install") {
            options.install = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            error = arg.rfind("-", 0) == 0 ? "unknown option " + arg : "unexpected argument '" + arg + "'";
            return std::nullopt;
        }
    }
    return options;
}
