#include "app/LocalConfig.h"

#include <algorithm>
#include <utility>

#include <strings.h>

#include "platform/FolderStore.h"
#include "platform/IniFile.h"

namespace {

constexpr const char* kSettings = "settings";

std::string Setting(const std::string& iniPath, const char* key)
{
    return ReadIniValue(iniPath, kSettings, key, ConfigValueLength - 1);
}

} // namespace

LocalConfig ReadLocalConfig(const std::string& iniPath)
{
    LocalConfig config;
    config.m_strUpdate = Setting(iniPath, "update");
    config.m_strSetup = Setting(iniPath, "setup");
    config.m_strGuanwang = Setting(iniPath, "guanwang");
    config.m_strZhuce = Setting(iniPath, "zhuce");
    config.m_strAd = Setting(iniPath, "ad");
    config.m_strRegKey = Setting(iniPath, "reg_key");
    config.m_strDir = Setting(iniPath, "dir");
    config.m_strPubkey = Setting(iniPath, "pubkey");
    config.m_connections = ParseConnections(Setting(iniPath, "connections")).value_or(DefaultConnections);
    config.m_limitBytesPerSecond = ParseLimitKiB(Setting(iniPath, "limit")).value_or(0);
    MirrorList mirrors = ParseMirrors(ReadIniValue(iniPath, kSettings, "mirrors", MirrorsValueLength - 1));
    config.m_mirrors = std::move(mirrors.bases);
    config.m_skippedMirrors = mirrors.skipped;
    return config;
}

MirrorList ParseMirrors(const std::string& text)
{
    MirrorList list;
    constexpr const char* kBlanks = " \t";
    for (std::size_t from = text.find_first_not_of(kBlanks); from != std::string::npos;
         from = text.find_first_not_of(kBlanks, from)) {
        const std::size_t end = std::min(text.find_first_of(kBlanks, from), text.size());
        std::string item = text.substr(from, end - from);
        from = end;
        std::size_t scheme = 0;
        if (strncasecmp(item.c_str(), "http://", 7) == 0)
            scheme = 7;
        else if (strncasecmp(item.c_str(), "https://", 8) == 0)
            scheme = 8;
        // A host is there: something before the path begins.
        if (scheme == 0 || item.size() == scheme || item[scheme] == '/') {
            ++list.skipped;
            continue;
        }
        if (item.back() != '/')
            item += '/';
        list.bases.push_back(std::move(item));
    }
    return list;
}

std::optional<int> ParseConnections(const std::string& text)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int count = std::stoi(text);
    if (count < 1 || count > MaxConnections)
        return std::nullopt;
    return count;
}

std::optional<std::uint64_t> ParseLimitKiB(const std::string& text)
{
    // Twelve digits of KiB/s are far past any line and stay clear of overflow.
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text) * 1024;
}

std::string LoadStoredFolder(const IFolderStore& store, const std::string& regKey)
{
    std::string folder = store.Read(regKey).value_or(std::string());
    // The value ends at its first terminator, as a string value does.
    if (const auto nul = folder.find('\0'); nul != std::string::npos)
        folder.resize(nul);
    return folder;
}

void StoreFolder(IFolderStore& store, const std::string& regKey, const std::string& folder)
{
    // A failed write leaves the remembered folder as it was; nobody is told.
    (void)store.Write(regKey, folder);
}
