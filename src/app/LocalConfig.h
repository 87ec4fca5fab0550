#pragma once

#include <string>

class IDownloadWindow;
class IDrives;
class IFolderStore;

// Characters a configuration value keeps, including the terminator of the
// original buffer: a value holds at most ConfigValueLength - 1 characters.
inline constexpr int ConfigValueLength = 512;
// Characters of the remembered folder and of the drive list buffer.
inline constexpr int FolderPathLength = 260;
// The folder field's text while no download folder is set.
inline constexpr const char* kNoFolderPrompt = "请设置下载路径";

// The deployment settings from ./config.ini, section "settings". Read once
// when the main window is created and never changed afterwards.
struct LocalConfig {
    std::string m_strUpdate;
    std::string m_strSetup;
    std::string m_strGuanwang;
    std::string m_strZhuce;
    std::string m_strAd;
    std::string m_strRegKey;
    std::string m_strDir;
};

// Reads the seven keys "update", "setup", "guanwang", "zhuce", "ad",
// "reg_key", "dir" from the ini file (default "./config.ini").
LocalConfig ReadLocalConfig(const std::string& iniPath = "./config.ini");

// The remembered download folder, or "" when absent, empty or unreadable.
std::string LoadStoredFolder(const IFolderStore& store, const std::string& regKey);
// Remembers the folder (or the empty text). Failures are not reported.
void StoreFolder(IFolderStore& store, const std::string& regKey, const std::string& folder);
// The default-folder rule: the first fixed drive's root + dir + "/", created
// with its parents. Sets DownloadSession::downloadFolder and folderDefaulted,
// and the folder field, when a fixed drive exists.
void ChooseDefaultFolder(const IDrives& drives, const std::string& dir, IDownloadWindow* window);
// Step 5 of the window's initialisation: keeps a remembered folder that
// exists (folderFromRegistry = 1), else applies the default rule; the folder
// field shows " " + folder, or kNoFolderPrompt when no folder could be set.
void InitDownloadFolder(const IFolderStore& store, const IDrives& drives, const LocalConfig& config,
                        IDownloadWindow* window);
