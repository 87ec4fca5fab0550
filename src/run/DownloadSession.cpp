#include "run/DownloadSession.h"

#include "app/LocalConfig.h"
#include "planning/DigestCache.h"
#include "transfer/TransferEngine.h"

#include "platform/WorkerThread.h"
#include "run/DownloadWindow.h"
#include "run/MyDownloadState.h"

DownloadSession g_downloadSession;

DownloadSession::DownloadSession() = default;
DownloadSession::~DownloadSession() = default;

std::shared_ptr<WorkerThread> DownloadSession::DownloadThread() const
{
    std::lock_guard lock(m_mutex);
    return m_downloadThread;
}

std::shared_ptr<WorkerThread> DownloadSession::CheckThread() const
{
    std::lock_guard lock(m_mutex);
    return m_checkThread;
}

bool DownloadSession::PublishDownloadThread(std::shared_ptr<WorkerThread> thread)
{
    std::lock_guard lock(m_mutex);
    if (m_downloadThread != nullptr && !m_downloadThread->Finished())
        return false;
    m_downloadThread = std::move(thread);
    return true;
}

void DownloadSession::PublishCheckThread(std::shared_ptr<WorkerThread> thread)
{
    std::lock_guard lock(m_mutex);
    m_checkThread = std::move(thread);
}

std::shared_ptr<const PlannedFiles> DownloadSession::Plan() const
{
    std::lock_guard lock(m_mutex);
    return m_plan;
}

void DownloadSession::SetPlan(std::shared_ptr<const PlannedFiles> plan)
{
    fileCount = plan != nullptr ? plan->FileCount() : 0;
    totalBytes = plan != nullptr ? plan->totalBytes : 0;
    bytesToFetch = plan != nullptr ? plan->bytesToFetch : 0;
    bytesDone = plan != nullptr ? plan->bytesDone : 0;
    std::lock_guard lock(m_mutex);
    m_plan = std::move(plan);
}

void DownloadSession::ResetPlan()
{
    SetPlan(nullptr);
}

void DownloadSession::DropPlan()
{
    std::lock_guard lock(m_mutex);
    m_plan.reset();
}

std::string DownloadSession::DownloadFolder() const
{
    std::lock_guard lock(m_mutex);
    return m_downloadFolder;
}

void DownloadSession::SetDownloadFolder(const std::string& folder)
{
    std::lock_guard lock(m_mutex);
    m_downloadFolder = folder;
}

std::string DownloadSession::InstallerPath() const
{
    std::lock_guard lock(m_mutex);
    return m_installerPath;
}

void DownloadSession::SetInstallerPath(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_installerPath = path;
}

std::optional<std::array<char, 32>> DownloadSession::InstallerListedDigest() const
{
    std::lock_guard lock(m_mutex);
    return m_installerListedDigest;
}

void DownloadSession::SetInstallerListedDigest(const std::optional<std::array<char, 32>>& digest)
{
    std::lock_guard lock(m_mutex);
    m_installerListedDigest = digest;
}

std::string DownloadSession::ListVersion() const
{
    std::lock_guard lock(m_mutex);
    return m_listVersion;
}

void DownloadSession::SetListVersion(const std::string& version)
{
    std::lock_guard lock(m_mutex);
    m_listVersion = version;
}

std::string DownloadSession::FileBaseUrl() const
{
    std::lock_guard lock(m_mutex);
    return m_fileBaseUrl;
}

void DownloadSession::SetFileBaseUrl(const std::string& url)
{
    std::lock_guard lock(m_mutex);
    m_fileBaseUrl = url;
}

CheckResult DownloadSession::LastCheck() const
{
    std::lock_guard lock(m_mutex);
    return m_lastCheck;
}

void DownloadSession::SetLastCheck(const CheckResult& result)
{
    std::lock_guard lock(m_mutex);
    m_lastCheck = result;
}

int DownloadSession::Failures() const
{
    std::lock_guard lock(m_mutex);
    return m_failures;
}

FileOutcome DownloadSession::LastFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_lastFailure;
}

void DownloadSession::RecordFailure(const FileOutcome& outcome)
{
    std::lock_guard lock(m_mutex);
    ++m_failures;
    m_lastFailure = outcome;
}

MyDownloadState* DownloadSession::NewProgress()
{
    std::lock_guard lock(m_mutex);
    m_lastProgress = std::make_unique<MyDownloadState>();
    return m_lastProgress.get();
}

std::shared_ptr<TransferEngine> DownloadSession::Engine(int connections)
{
    std::lock_guard lock(m_mutex);
    if (m_engine == nullptr) {
        TransferEngineOptions options;
        options.connections = connections;
        if (IDownloadWindow* window = mainWindow.load())
            options.maxBytesPerSecond = window->Config().m_limitBytesPerSecond;
        m_engine = std::make_shared<TransferEngine>(options);
    }
    return m_engine;
}

std::shared_ptr<DigestCache> DownloadSession::Digests(const std::string& folder)
{
    std::lock_guard lock(m_mutex);
    if (folder.empty())
        return nullptr;
    if (m_digests == nullptr || m_digestsFolder != folder) {
        const std::string file = DigestCacheFileFor(folder);
        m_digestsFolder = folder;
        m_digests = file.empty() ? nullptr : std::make_shared<DigestCache>(file);
        if (m_digests != nullptr)
            m_digests->Load();
    }
    return m_digests;
}

IDownloadWindow* DownloadSession::KeepHaltedWindow(std::unique_ptr<IDownloadWindow> window)
{
    std::lock_guard lock(m_mutex);
    if (m_haltedWindow == nullptr)
        m_haltedWindow = std::move(window);
    return m_haltedWindow.get();
}

void DownloadSession::ResetForTest()
{
    mainWindow = nullptr;
    progressBar = nullptr;
    environment = RunEnvironment{};
    endRoutine = nullptr;
    stepTrace.Clear();
    pause.Reset();
    ResetPlan();
    lastPercent = 0;
    folderFromRegistry = 0;
    checkFinished = 0;
    folderDefaulted = 0;
    installerReady = 0;
    activeCheckRuns = 0;
    currentEntry = -1;
    activeProgress = nullptr;
    verifyDigests = 0;
    runObserver = nullptr;
    std::lock_guard lock(m_mutex);
    m_downloadThread.reset();
    m_checkThread.reset();
    m_downloadFolder.clear();
    m_installerPath.clear();
    m_installerListedDigest.reset();
    m_listVersion.clear();
    m_fileBaseUrl.clear();
    m_lastCheck = CheckResult{};
    m_failures = 0;
    m_lastFailure = FileOutcome{};
    m_lastProgress.reset();
    m_haltedWindow.reset();
    m_engine.reset();
    m_digestsFolder.clear();
    m_digests.reset();
}
