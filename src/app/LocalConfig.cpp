#include "app/LocalConfig.h"

#include <filesystem>
#include <optional>

#include "app/DownloadWindow.h"
#include "planning/DownloadSession.h"
#include "platform/Drives.h"
#include "platform/FolderStore.h"
#include "platform/IniFile.h"
#include "platform/PathExists.h"

namespace {

constexpr const char* kSettings = "settings";

std::string Setting(const std::string& iniPath, const char* key)
{
    return ReadIniValue(iniPath, kSettings, key, ConfigValueLength - 1);
}

void ShowFolder(IDownloadWindow* window, const std::string& folder)
{
    if (window != nullptr)
        window->SetText(IDC_FOLDER, " " + folder);
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
    return config;
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

void ChooseDefaultFolder(const IDrives& drives, const std::string& dir, IDownloadWindow* window)
{
    g_downloadSession.SetDownloadFolder({});
    std::optional<std::string> root;
    for (const DriveRoot& drive : drives.List()) {
        if (drive.type == DriveType::Fixed) {
            root = drive.root;
            break;
        }
    }
    // No fixed drive: the folder stays empty and the field keeps its prompt.
    if (!root)
        return;
    std::string subfolder = dir;
    for (char& c : subfolder)
        if (c == '\\')
            c = '/';
    const std::string folder = *root + subfolder + "/";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    g_downloadSession.SetDownloadFolder(folder);
    ShowFolder(window, folder);
    g_downloadSession.folderDefaulted = 1;
}

void InitDownloadFolder(const IFolderStore& store, const IDrives& drives, const LocalConfig& config,
                        IDownloadWindow* window)
{
    std::string folder = LoadStoredFolder(store, config.m_strRegKey);
    // Only an absolute folder that exists is usable; a relative one would
    // depend on where the program was started.
    if (!folder.empty() && folder.front() == '/' && PathExists(folder)) {
        if (folder.back() != '/')
            folder += '/';
        g_downloadSession.SetDownloadFolder(folder);
        ShowFolder(window, folder);
        g_downloadSession.folderFromRegistry = 1;
        return;
    }
    ChooseDefaultFolder(drives, config.m_strDir, window);
    if (window != nullptr && g_downloadSession.DownloadFolder().empty())
        window->SetText(IDC_FOLDER, kNoFolderPrompt);
}
