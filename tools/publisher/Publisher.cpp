// zorvath-publish: for the operator who serves a game. Writes DIR/update.txt
// and DIR/setup.txt so that the downloader fetches every regular file below
// DIR (the two lists excepted) from the base URL and starts the installer.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "planning/Md5.h"
#include "planning/ServerLists.h"
#include "platform/TextConversion.h"

namespace fs = std::filesystem;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const Usage =
    "usage: zorvath-publish --base-url URL --installer NAME [--game-version TEXT] [--maintenance] DIR\n"
    "       zorvath-publish --help | --version\n"
    "\n"
    "Writes DIR/update.txt and DIR/setup.txt for every regular file below DIR.\n"
    "  --base-url URL        where DIR is served; a '/' is added when it lacks one\n"
    "  --installer NAME      the installer, relative to DIR ('/' or '\\' between folders)\n"
    "  --game-version TEXT   the version line shown to the player (default: empty)\n"
    "  --maintenance         announce maintenance: the downloader then fetches nothing\n"
    "  --help                print this help and exit\n"
    "  --version             print the publisher's own version and exit\n";

struct Options {
    std::string baseUrl;
    std::string installer;
    std::string version;
    bool maintenance = false;
    fs::path dir;
};

struct ListedFile {
    std::string name; // relative, '\' between folders
    std::string md5;
    std::uintmax_t size = 0;
};

std::optional<Options> ParseArguments(int argc, char** argv)
{
    Options options;
    bool haveDir = false;
    bool haveBase = false;
    bool haveInstaller = false;
    // Alone, --version asks for the program's version; followed by more it is
    // the earlier spelling of --game-version, which scripts still pass.
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "zorvath-publish " << ZORVATH_VERSION << "\n";
        std::exit(ExitOk);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << Usage;
            std::exit(ExitOk);
        } else if (arg == "--base-url") {
            if (!value(options.baseUrl))
                return std::nullopt;
            haveBase = true;
        } else if (arg == "--installer") {
            if (!value(options.installer))
                return std::nullopt;
            haveInstaller = true;
        } else if (arg == "--game-version" || arg == "--version") {
            if (!value(options.version))
                return std::nullopt;
        } else if (arg == "--maintenance") {
            options.maintenance = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "zorvath-publish: unknown option " << arg << "\n";
            return std::nullopt;
        } else if (!haveDir) {
            options.dir = arg;
            haveDir = true;
        } else {
            std::cerr << "zorvath-publish: more than one folder given\n";
            return std::nullopt;
        }
    }
    if (!haveDir || !haveBase || !haveInstaller)
        return std::nullopt;
    return options;
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// Every regular file below dir except the two lists at its top, sorted by
// name so that the same folder always gives the same list.
bool CollectFiles(const fs::path& dir, std::vector<ListedFile>& files)
{
    std::error_code error;
    fs::recursive_directory_iterator it(dir, error);
    if (error) {
        std::cerr << "zorvath-publish: cannot read " << dir.string() << ": " << error.message() << "\n";
        return false;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            break;
        if (!it->is_regular_file())
            continue;
        const std::string relative = it->path().lexically_relative(dir).generic_string();
        if (relative == UpdateListName || relative == SetupListName)
            continue;
        // The list cannot carry these: the name ends at the first comma, a
        // backslash would split it into folders, and a line break ends it.
        if (relative.find_first_of(",\\\r\n") != std::string::npos) {
            std::cerr << "zorvath-publish: cannot list " << relative
                      << ": a name must not contain ',', '\\' or a line break\n";
            return false;
        }
        std::string name = relative;
        std::replace(name.begin(), name.end(), '/', '\\');
        files.push_back({name, {}, it->file_size()});
    }
    if (error) {
        std::cerr << "zorvath-publish: cannot read " << dir.string() << ": " << error.message() << "\n";
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
    return true;
}

// Written beside the target and renamed over it, so a reader never sees half
// a list.
bool WriteAtomically(const fs::path& target, const std::string& content)
{
    std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    ::fchmod(fd, 0644);
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool ok = written == content.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || std::rename(pattern.c_str(), target.c_str()) != 0) {
        std::remove(pattern.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = ParseArguments(argc, argv);
    if (!parsed) {
        std::cerr << Usage;
        return ExitUsage;
    }
    Options options = *parsed;
    if (HasLineBreak(options.baseUrl) || HasLineBreak(options.version) || HasLineBreak(options.installer)) {
        std::cerr << "zorvath-publish: --base-url, --game-version and --installer must be one line each\n";
        return ExitUsage;
    }
    if (!options.baseUrl.empty() && options.baseUrl.back() != '/')
        options.baseUrl += '/';
    std::string installer = options.installer;
    std::replace(installer.begin(), installer.end(), '/', '\\');
    if (const auto reason = UnsafeNameReason(installer)) {
        std::cerr << "zorvath-publish: the installer must be a file below the folder: " << installer << "\n";
        return ExitUsage;
    }

    std::vector<ListedFile> files;
    if (!CollectFiles(options.dir, files))
        return ExitFailed;
    if (std::none_of(files.begin(), files.end(), [&](const ListedFile& f) { return f.name == installer; })) {
        std::cerr << "zorvath-publish: the installer " << installer << " is not a file below "
                  << options.dir.string() << "\n";
        return ExitFailed;
    }

    std::uintmax_t totalBytes = 0;
    for (ListedFile& file : files) {
        const fs::path path = options.dir / ListedNameToLocalPath(file.name);
        Md5Context context;
        unsigned char digest[16] = {};
        if (DigestFile(path.string(), &context, digest) != DigestFileOk) {
            std::cerr << "zorvath-publish: cannot read " << path.string() << "\n";
            return ExitFailed;
        }
        file.md5 = DigestToHex(digest);
        totalBytes += file.size;
    }

    std::string update = std::string(options.maintenance ? "0" : "1") + "\n" + options.version + "\n" +
                         options.baseUrl + "\n";
    for (const ListedFile& file : files)
        update += file.name + "," + file.md5 + "\n";

    if (!WriteAtomically(options.dir / UpdateListName, update) ||
        !WriteAtomically(options.dir / SetupListName, installer + "\n")) {
        std::cerr << "zorvath-publish: cannot write the lists in " << options.dir.string() << "\n";
        return ExitFailed;
    }
    std::cout << "published " << files.size() << " files, " << totalBytes << " bytes"
              << (options.maintenance ? " (maintenance)" : "") << "\n";
    return ExitOk;
}
