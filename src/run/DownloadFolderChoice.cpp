#include "run/DownloadFolderChoice.h"

#include <filesystem>
#include <optional>

#include "app/LocalConfig.h"
#include "platform/Drives.h"
#include "platform/PathExists.h"
#include "run/DownloadSession.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"

namespace {

void ShowFolder(IDownloadWindow* window, const std::string& folder)
{
    if (window != nullptr)
        window->SetText(IDC_FOLDER, " " + folder);
}

} // namespace

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
