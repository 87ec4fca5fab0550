#pragma once

#include <string>

class IDownloadWindow;
class IDrives;
class IFolderStore;
struct LocalConfig;

// The default-folder rule: the first fixed drive's root + dir + "/", created
// with its parents. Sets the session's downloadFolder and folderDefaulted,
// and the folder field, when a fixed drive exists.
void ChooseDefaultFolder(const IDrives& drives, const std::string& dir, IDownloadWindow* window);

// The window's choice of folder at start: keeps a remembered folder that
// exists (folderFromRegistry = 1), else applies the default rule; the folder
// field shows " " + folder, or kNoFolderPrompt when no folder could be set.
void InitDownloadFolder(const IFolderStore& store, const IDrives& drives, const LocalConfig& config,
                        IDownloadWindow* window);
