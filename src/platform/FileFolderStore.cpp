#include "platform/FileFolderStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/AtomicFile.h"

namespace {

constexpr const char* kSection = "[Download]";
constexpr const char* kDefaultName = "@default";

std::mutex g_writeMutex;

std::string Escape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '%' || c == '=' || c == '[' || c == '\r' || c == '\n') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex = text.substr(i + 1, 2);
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string StoredName(const std::string& valueName)
{
    return valueName.empty() ? kDefaultName : valueName;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

// The [Download] entries of the file; false when the file cannot be read.
bool Load(const std::string& path, Entries& entries)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inSection = line == kSection;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos)
            continue;
        entries.emplace_back(Unescape(line.substr(0, equals)), Unescape(line.substr(equals + 1)));
    }
    return !in.bad();
}

} // namespace

FileFolderStore::FileFolderStore(std::string path)
    : m_path(std::move(path))
{
}

std::optional<std::string> FileFolderStore::Read(const std::string& valueName) const
{
    Entries entries;
    if (m_path.empty() || !Load(m_path, entries))
        return std::nullopt;
    const std::string wanted = Lower(StoredName(valueName));
    for (const auto& [name, folder] : entries)
        if (Lower(name) == wanted)
            return folder;
    return std::nullopt;
}

bool FileFolderStore::Write(const std::string& valueName, const std::string& folder)
{
    if (m_path.empty())
        return false;
    std::lock_guard lock(g_writeMutex);
    const std::filesystem::path target(m_path);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);

    Entries entries;
    if (std::filesystem::exists(target, error) && !Load(m_path, entries))
        return false; // never replace a store we could not read
    const std::string name = StoredName(valueName);
    bool replaced = false;
    for (auto& entry : entries) {
        if (Lower(entry.first) == Lower(name)) {
            entry.second = folder;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        entries.emplace_back(name, folder);

    std::string content = std::string(kSection) + "\n";
    for (const auto& [key, value] : entries)
        content += Escape(key) + "=" + Escape(value) + "\n";

    return WriteFileAtomically(m_path, content, 0600);
}

std::string SystemFolderStorePath()
{
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::string(home) + "/.config";
    else
        return {};
    return base + "/Vonmark/Halvane.conf";
}

namespace {

// Finds the file anew on each call, so a changed environment (tests) is seen.
class EnvironmentFolderStore final : public IFolderStore {
public:
    std::optional<std::string> Read(const std::string& valueName) const override
    {
        return FileFolderStore(SystemFolderStorePath()).Read(valueName);
    }
    bool Write(const std::string& valueName, const std::string& folder) override
    {
        return FileFolderStore(SystemFolderStorePath()).Write(valueName, folder);
    }
};

} // namespace

IFolderStore& SystemFolderStore()
{
    static EnvironmentFolderStore store;
    return store;
}
