#include "run/CheckThread.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unordered_map>

#include "app/LocalConfig.h"
#include "planning/DigestCache.h"
#include "planning/DownloadPlan.h"
#include "planning/PresentFileDigests.h"
#include "planning/ServerLists.h"
#include "platform/Drives.h"
#include "platform/PathExists.h"
#include "platform/TextConversion.h"
#include "run/DownloadSession.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"
#include "run/RunReport.h"
#include "transfer/TransferEngine.h"
#include "transfer/UrlToFile.h"

namespace {

// The list URL with the current time as a query value ("%s?t=%d"), so that no
// cache between us and the server answers with an old list.
std::string ListUrl(const std::string& configured)
{
    const auto now = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
    return configured + "?t=" + std::to_string(now);
}

// The window of the session at each call, not the one the run started
// with: the close command swaps in a silent window to halt what a run still
// going would do to the real one.
IDownloadWindow* Window()
{
    return g_downloadSession.mainWindow.load();
}

void SetText(int control, const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->SetText(control, text);
}

void Enable(int control, bool enabled)
{
    if (IDownloadWindow* window = Window())
        window->Enable(control, enabled);
}

void Show(int control, bool shown)
{
    if (IDownloadWindow* window = Window())
        window->Show(control, shown);
}

void SetFace(StartFace face)
{
    if (IDownloadWindow* window = Window())
        window->SetFace(face);
}

void ShowMessage(MessageOwner owner, const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->Message(owner, text);
}

CheckResult Refused(const std::string& folder, const std::string& list, int line, const std::string& name,
                    const std::string& reason)
{
    CheckResult result;
    result.outcome = CheckOutcome::ListRefused;
    result.folder = folder;
    result.refusal = CheckRefusal{list, line, reason, name};
    return result;
}

CheckResult Ended(CheckOutcome outcome, const std::string& folder)
{
    CheckResult result;
    result.outcome = outcome;
    result.folder = folder;
    return result;
}

ListFetch FetchList(const std::string& configured, const std::string& path)
{
    return UrlToFile(ListUrl(configured), path);
}

CheckOutcome FetchFailure(ListFetch fetched)
{
    return fetched == ListFetch::CannotWrite ? CheckOutcome::ListsNotWritten : CheckOutcome::ListsNotFetched;
}

// One check of one folder.
CheckResult CheckFolder(const LocalConfig& config, const std::string& folder)
{
    DownloadSession& session = g_downloadSession;
    const std::string updateListPath = folder + UpdateListName;
    const std::string setupListPath = folder + SetupListName;

    // The remembered folder may have been removed since the window chose it.
    if (!folder.empty() && !PathExists(folder))
        return Ended(CheckOutcome::FolderGone, folder);

    session.ResetPlan();
    Enable(IDC_START, false);
    Enable(IDC_BROWSE, false);
    SetText(IDC_STATUS, kChecking);

    if (const ListFetch fetched = FetchList(config.m_strUpdate, updateListPath); fetched != ListFetch::Fetched)
        return Ended(FetchFailure(fetched), folder);
    if (const ListFetch fetched = FetchList(config.m_strSetup, setupListPath); fetched != ListFetch::Fetched) {
        std::remove(updateListPath.c_str());
        return Ended(FetchFailure(fetched), folder);
    }

    std::string installerName;
    {
        std::ifstream setupList(setupListPath, std::ios::binary);
        if (!setupList) {
            std::remove(updateListPath.c_str());
            return Ended(CheckOutcome::ListsNotFetched, folder);
        }
        installerName = ReadInstallerName(setupList);
    }
    std::remove(setupListPath.c_str());
    if (const auto reason = UnsafeNameReason(installerName)) {
        std::remove(updateListPath.c_str());
        return Refused(folder, SetupListName, 1, installerName, *reason);
    }
    session.SetInstallerPath(folder + ListedNameToLocalPath(LocaleToUtf8(installerName)));

    std::ifstream updateList(updateListPath, std::ios::binary);
    const UpdateListHead head = ReadUpdateListHead(updateList);
    // Under maintenance the list is left where it is.
    if (!head.Available())
        return Ended(CheckOutcome::Maintenance, folder);
    session.SetListVersion(head.version);
    SetText(IDC_VERSION, kVersionLabel + LocaleToUtf8(head.version));
    session.SetFileBaseUrl(head.baseUrl);

    // Every name is looked at before anything is made on disk.
    const std::vector<FileLine> files = ReadFileLines(updateList);
    updateList.close();
    std::remove(updateListPath.c_str());
    for (const FileLine& file : files) {
        if (const auto reason = UnsafeNameReason(file.name))
            return Refused(folder, UpdateListName, file.lineNumber, file.name, *reason);
    }
    auto plan = std::make_shared<const PlannedFiles>(PlanFilesInParallel(config.m_connections, folder, head.baseUrl, files));
    const std::uint64_t needed = plan->bytesToFetch;
    const bool anyNeeded = plan->AnyNeeded();
    session.SetPlan(std::move(plan));

    if (needed != 0 && !folder.empty()) {
        // A failed query cannot tell; the download then meets a full disk
        // with its own message.
        const auto free = session.environment.Drives().FreeBytes(folder);
        if (free && *free <= needed) {
            CheckResult result = Ended(CheckOutcome::NoSpace, folder);
            result.bytesNeeded = needed;
            result.bytesFree = *free;
            return result;
        }
    }
    return Ended(anyNeeded ? CheckOutcome::Ready : CheckOutcome::NothingToFetch, folder);
}

// Space is short: the run gives the folder up and forgets it.
void GiveUpFolder(const LocalConfig& config)
{
    DownloadSession& session = g_downloadSession;
    session.SetDownloadFolder({});
    session.folderFromRegistry = 0;
    session.checkFinished = 0;
    session.totalBytes = 0;
    session.bytesToFetch = 0;
    StoreFolder(session.environment.FolderStore(), config.m_strRegKey, {});
}

// A folder the run chose itself moves to the first fixed drive with more
// room than needed. The new folder, or nothing when no drive has the room.
std::optional<std::string> MoveDefaultedFolder(const LocalConfig& config, std::uint64_t needed)
{
    const IDrives& drives = g_downloadSession.environment.Drives();
    for (const DriveRoot& drive : drives.List()) {
        if (drive.type != DriveType::Fixed)
            continue;
        const auto free = drives.FreeBytes(drive.root);
        if (!free || *free <= needed)
            continue;
        const std::string folder = drive.root + config.m_strDir + "/";
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        return folder;
    }
    return std::nullopt;
}

std::string RefusalText(const CheckRefusal& refusal)
{
    return std::string(kListRefused) + refusal.list + " 第" + std::to_string(refusal.line) + "行的文件名" +
           refusal.reason + ", 不在下载目录内:\n" + LocaleToUtf8(refusal.name);
}

} // namespace

CheckResult RunCheck()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* const first = Window();
    if (first == nullptr)
        return {};
    const LocalConfig config = first->Config();

    CheckResult result = CheckFolder(config, session.DownloadFolder());
    while (result.outcome == CheckOutcome::NoSpace) {
        GiveUpFolder(config);
        if (session.folderDefaulted == 0)
            break;
        const auto moved = MoveDefaultedFolder(config, result.bytesNeeded);
        if (!moved)
            break;
        session.folderDefaulted = 0;
        session.SetDownloadFolder(*moved);
        SetText(IDC_FOLDER, " " + *moved);
        result = CheckFolder(config, *moved);
    }
    session.SetLastCheck(result);
    return result;
}

void ApplyCheckResult(const CheckResult& result)
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* window = Window();
    if (window == nullptr)
        return;

    switch (result.outcome) {
    case CheckOutcome::NoWindow:
        return;
    case CheckOutcome::ListsNotFetched:
    case CheckOutcome::ListsNotWritten:
    case CheckOutcome::Maintenance:
    case CheckOutcome::ListRefused: {
        const std::string text = result.outcome == CheckOutcome::Maintenance   ? std::string(kMaintenance)
                                 : result.outcome == CheckOutcome::ListRefused ? RefusalText(result.refusal)
                                                                               : std::string(kListsNotFetched);
        window->HideMainWindow();
        ShowMessage(MessageOwner::None, text);
        EndRun(EndReason::CheckFailed);
    }
    case CheckOutcome::FolderGone:
        session.SetDownloadFolder({});
        StoreFolder(session.environment.FolderStore(), window->Config().m_strRegKey, {});
        SetText(IDC_FOLDER, kNoFolderPrompt);
        Enable(IDC_BROWSE, true);
        Enable(IDC_START, true);
        return;
    case CheckOutcome::NoSpace:
        Enable(IDC_BROWSE, true);
        Enable(IDC_START, true);
        Show(IDC_START, true);
        Show(IDC_BROWSE, true);
        SetText(IDC_FOLDER, kNoFolderPrompt);
        SetText(IDC_STATUS, {});
        // The check is over: the enabled button must not keep the checking
        // face. A click now asks for a folder.
        SetFace(StartFace::Start);
        ShowMessage(MessageOwner::MainWindow, kNoSpaceForGame);
        return;
    case CheckOutcome::Ready:
    case CheckOutcome::NothingToFetch:
        break;
    }

    if (result.outcome == CheckOutcome::NothingToFetch) {
        SetText(IDC_STATUS, kComplete);
        SetFace(StartFace::Install);
        session.installerReady = 1;
    }
    if (!result.folder.empty())
        SetText(IDC_FOLDER, " " + result.folder);
    if (session.installerReady == 1) {
        Show(IDC_BROWSE, false);
        Enable(IDC_BROWSE, false);
        if (IProgressBar* bar = session.progressBar)
            bar->SetPos(100);
    } else {
        Show(IDC_BROWSE, true);
        Enable(IDC_BROWSE, true);
        SetText(IDC_STATUS, {});
        SetFace(StartFace::Start);
    }
    Show(IDC_START, true);
    Enable(IDC_START, true);

    session.checkFinished = 1;
    if (session.installerReady == 0 && session.folderFromRegistry == 1) {
        if (IDownloadWindow* current = Window())
            current->RunStartCommand();
    }
}

PlannedFiles PlanFilesInParallel(int connections, const std::string& folder, const std::string& baseUrl,
                                 const std::vector<FileLine>& files)
{
    DownloadSession& session = g_downloadSession;
    const std::shared_ptr<DigestCache> cache = session.Digests(folder);
    // With no folder nothing on disk is looked at.
    PresentFileDigests digests(folder.empty() ? std::vector<std::string>{} : ListedFilePaths(folder, files),
                               cache.get(), session.verifyDigests != 0);

    const std::vector<std::string> urls = ListedFileUrls(baseUrl, files);
    std::vector<RemoteSize> answers;
    {
        const std::shared_ptr<TransferEngine> engine = session.Engine(connections);
        std::lock_guard driving(session.EngineDriver());
        answers = engine->QuerySizes(urls);
    }
    std::unordered_map<std::string, std::uint64_t> sizes;
    for (std::size_t i = 0; i < urls.size(); ++i)
        sizes.emplace(urls[i], answers[i].state == DownloadOk ? answers[i].size : 0);
    digests.Wait();

    PlannedFiles plan = BuildDownloadPlan(
        folder, baseUrl, files,
        [&sizes](const std::string& url) {
            const auto found = sizes.find(url);
            return found != sizes.end() ? found->second : 0;
        },
        [&digests](const std::string& path) { return digests.Find(path); });
    if (cache != nullptr)
        cache->Save();
    return plan;
}

int CheckThreadProc()
{
    ApplyCheckResult(RunCheck());
    return 0;
}
