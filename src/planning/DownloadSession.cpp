#include "planning/DownloadSession.h"

#include "platform/WorkerThread.h"

DownloadSession g_downloadSession;

std::string DownloadSession::DownloadFolder() const
{
    std::lock_guard lock(stringsMutex);
    return downloadFolder;
}

void DownloadSession::SetDownloadFolder(const std::string& folder)
{
    std::lock_guard lock(stringsMutex);
    downloadFolder = folder;
}

std::string DownloadSession::ListVersion() const
{
    std::lock_guard lock(stringsMutex);
    return listVersion;
}

void DownloadSession::SetListVersion(const std::string& version)
{
    std::lock_guard lock(stringsMutex);
    listVersion = version;
}

std::shared_ptr<WorkerThread> DownloadSession::DownloadThread() const
{
    std::lock_guard lock(threadsMutex);
    return downloadThread;
}

std::shared_ptr<WorkerThread> DownloadSession::CheckThread() const
{
    std::lock_guard lock(threadsMutex);
    return checkThread;
}

void DownloadSession::ResetPlan()
{
    plan = std::make_unique<std::vector<PlanEntry>>();
    plan->reserve(PlanCapacity);
    fileCount = 0;
    totalBytes = 0;
    bytesToFetch = 0;
    bytesDone = 0;
}

void DownloadSession::ResetForTest()
{
    mainWindow = nullptr;
    progressBar = nullptr;
    {
        std::lock_guard lock(threadsMutex);
        downloadThread.reset();
        checkThread.reset();
    }
    paused = 0;
    fileCount = 0;
    bytesToFetch = 0;
    totalBytes = 0;
    folderFromRegistry = 0;
    checkFinished = 0;
    folderDefaulted = 0;
    installerReady = 0;
    activeProgress = nullptr;
    plan.reset();
    bytesDone = 0;
    lastPercent = 0;
    std::lock_guard lock(stringsMutex);
    downloadFolder.clear();
    installerPath.clear();
    listVersion.clear();
    fileBaseUrl.clear();
}
