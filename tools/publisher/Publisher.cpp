// zorvath-publish: for the operator who serves a game. Writes DIR/update.txt
// and DIR/setup.txt so that the downloader fetches every regular file below
// DIR (the two lists excepted) from the base URL and starts the installer.
// With --sign it also writes update.txt.minisig and setup.txt.minisig, which
// `minisign -V -p minisign.pub -m update.txt` accepts.

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "planning/Md5.h"
#include "planning/Minisign.h"
#include "planning/ServerLists.h"
#include "platform/TextConversion.h"

namespace fs = std::filesystem;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

constexpr const char* kPasswordVariable = "ZORVATH_SIGN_PASSWORD";
constexpr const char* kSignatureSuffix = ".minisig";

const char* const Usage =
    "usage: zorvath-publish --base-url URL --installer NAME [--game-version TEXT] [--maintenance]\n"
    "                       [--sign SECRET_KEY_FILE [--seq N]] DIR\n"
    "       zorvath-publish --help | --version\n"
    "\n"
    "Writes DIR/update.txt and DIR/setup.txt for every regular file below DIR.\n"
    "  --base-url URL        where DIR is served; a '/' is added when it lacks one\n"
    "  --installer NAME      the installer, relative to DIR ('/' or '\\' between folders)\n"
    "  --game-version TEXT   the version line shown to the player (default: empty)\n"
    "  --maintenance         announce maintenance: the downloader then fetches nothing\n"
    "  --sign FILE           sign both lists with this minisign secret key (minisign -G makes one) and\n"
    "                        write update.txt.minisig and setup.txt.minisig beside them; the password of\n"
    "                        a protected key is taken from $ZORVATH_SIGN_PASSWORD, else asked on the terminal\n"
    "  --seq N               the release number signed into both (seq:N, a decimal up to 2^63); each\n"
    "                        release must carry a higher one than the last (default: the Unix time now)\n"
    "  --help                print this help and exit\n"
    "  --version             print the publisher's own version and exit\n";

struct Options {
    std::string baseUrl;
    std::string installer;
    std::string version;
    bool maintenance = false;
    fs::path dir;
    std::string secretKeyFile; // empty: no signatures
    std::optional<std::uint64_t> sequence;
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
        } else if (arg == "--sign") {
            if (!value(options.secretKeyFile) || options.secretKeyFile.empty())
                return std::nullopt;
        } else if (arg == "--seq") {
            std::string text;
            std::uint64_t sequence = 0;
            if (!value(text) || ParseSequence("seq:" + text, sequence) != SignatureCheck::Ok) {
                std::cerr << "zorvath-publish: --seq takes a decimal number up to 2^63\n";
                return std::nullopt;
            }
            options.sequence = sequence;
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
    if (options.sequence && options.secretKeyFile.empty()) {
        std::cerr << "zorvath-publish: --seq needs --sign\n";
        return std::nullopt;
    }
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
        if (relative == UpdateListName || relative == SetupListName ||
            relative == std::string(UpdateListName) + kSignatureSuffix ||
            relative == std::string(SetupListName) + kSignatureSuffix)
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

// Asks for the key's password on the terminal with echo off; nullopt when
// there is no terminal to ask on.
std::optional<std::string> AskPassword(const std::string& keyFile)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    const std::string prompt = "Password for " + keyFile + ": ";
    [[maybe_unused]] ssize_t ignored = ::write(tty, prompt.data(), prompt.size());
    termios saved {};
    const bool haveTerminal = ::tcgetattr(tty, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string password;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n')
        password += c;
    if (haveTerminal)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    ignored = ::write(tty, "\n", 1);
    ::close(tty);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

// Reads and opens the secret key; reports and returns false on failure.
bool LoadSecretKey(const std::string& keyFile, MinisignSecretKey& key)
{
    std::ifstream in(keyFile, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        std::cerr << "zorvath-publish: cannot read the secret key " << keyFile << "\n";
        return false;
    }
    std::string password;
    if (SecretKeyIsEncrypted(text)) {
        if (const char* given = std::getenv(kPasswordVariable)) {
            password = given;
        } else if (auto asked = AskPassword(keyFile)) {
            password = *asked;
        } else {
            std::cerr << "zorvath-publish: the secret key is protected by a password: set " << kPasswordVariable
                      << " or run on a terminal\n";
            return false;
        }
    }
    switch (ParseSecretKey(text, password, key)) {
    case SecretKeyResult::Ok:
        return true;
    case SecretKeyResult::WrongPassword:
        std::cerr << "zorvath-publish: wrong password, or a damaged secret key: " << keyFile << "\n";
        return false;
    case SecretKeyResult::UnsupportedKdf:
        std::cerr << "zorvath-publish: the secret key's protection is not one minisign uses: " << keyFile << "\n";
        return false;
    case SecretKeyResult::KdfFailed:
        std::cerr << "zorvath-publish: not enough memory to open the secret key " << keyFile << "\n";
        return false;
    case SecretKeyResult::Malformed:
        break;
    }
    std::cerr << "zorvath-publish: not a minisign secret key: " << keyFile << "\n";
    return false;
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
    if (UnsafeNameFault(installer) != NameFault::None) {
        std::cerr << "zorvath-publish: the installer must be a file below the folder: " << installer << "\n";
        return ExitUsage;
    }

    // The key is opened before anything is written, so a wrong password
    // leaves the folder as it was.
    MinisignSecretKey secretKey;
    const bool signing = !options.secretKeyFile.empty();
    if (signing && !LoadSecretKey(options.secretKeyFile, secretKey))
        return ExitFailed;
    const std::uint64_t sequence = options.sequence.value_or(static_cast<std::uint64_t>(std::time(nullptr)));

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

    const std::string setup = installer + "\n";
    if (!WriteAtomically(options.dir / UpdateListName, update) ||
        !WriteAtomically(options.dir / SetupListName, setup)) {
        std::cerr << "zorvath-publish: cannot write the lists in " << options.dir.string() << "\n";
        return ExitFailed;
    }
    const std::string timestamp = std::to_string(static_cast<long long>(std::time(nullptr)));
    for (const auto& [name, content] : {std::pair<std::string, const std::string&>(UpdateListName, update),
                                        std::pair<std::string, const std::string&>(SetupListName, setup)}) {
        const fs::path signaturePath = options.dir / (name + kSignatureSuffix);
        if (!signing) {
            std::error_code error;
            if (fs::exists(signaturePath, error))
                std::cerr << "zorvath-publish: warning: " << signaturePath.string()
                          << " is left from an earlier release and no longer matches; sign again or remove it\n";
            continue;
        }
        const auto signature = SignList(content, secretKey,
                                        "timestamp:" + timestamp + " file:" + name + " seq:" + std::to_string(sequence));
        if (!signature || !WriteAtomically(signaturePath, *signature)) {
            std::cerr << "zorvath-publish: cannot write " << signaturePath.string() << "\n";
            return ExitFailed;
        }
    }
    if (signing)
        std::cout << "signed with key " << KeyIdText(secretKey.keyId) << ", seq:" << sequence << "\n";
    std::cout << "published " << files.size() << " files, " << totalBytes << " bytes"
              << (options.maintenance ? " (maintenance)" : "") << "\n";
    return ExitOk;
}
