#include "run/DownloadThread.h"

#include <cerrno>
#include <memory>

#include "planning/PartialFile.h"
#include "platform/WorkerThread.h"
#include "run/DownloadSession.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"
#include "run/MyDownloadState.h"
#include "run/RunReport.h"
#include "transfer/HttpDownloader.h"

namespace {

// The window is looked up for every operation: the close command swaps in a
// silent one to halt this thread's effects on the real window.
IDownloadWindow* Window()
{
    return g_downloadSession.mainWindow.load();
}

void SetFace(StartFace face)
{
    if (IDownloadWindow* window = Window())
        window->SetFace(face);
}

void SetStatus(const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->SetText(IDC_STATUS, text);
}

void ShowMessage(const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->Message(MessageOwner::MainWindow, text);
}

std::string FileInUseText(const std::string& path)
{
    const std::string format = kFileInUse;
    const auto at = format.find("%s");
    return format.substr(0, at) + path + format.substr(at + 2);
}

// Shows the continue face and "下载暂停", then parks until the start command
// resumes the run.
void PauseAndPark()
{
    SetFace(StartFace::Continue);
    SetStatus(kPaused);
    g_downloadSession.pause.RequestAndPark();
}

// A failure the player is told of: its message, "E" in the trace, the
// outcome in the session, then the pause.
void Fail(int index, const std::string& path, FileResult result, const std::string& text, bool mark = true)
{
    ShowMessage(text);
    if (mark)
        AppendStep("E");
    g_downloadSession.RecordFailure(FileOutcome{index, path, result});
    PauseAndPark();
}

// Removes a file that has to go before a transfer. A file that cannot be
// removed is named in a message and the run pauses until the user resumes it.
void DeleteWithRetry(int index, const std::string& path)
{
    while (!RemoveFile(path))
        Fail(index, path, FileResult::FileInUse, FileInUseText(path), false);
}

FileResult ResultOf(DownloadState state)
{
    switch (state) {
    case DownloadOk: return FileResult::Placed;
    case DownloadNetError: return FileResult::NetworkFailed;
    case DownloadFileError: return FileResult::DiskFailed;
    case DownloadStopped: return FileResult::Stopped;
    case DownloadSizeError: return FileResult::SizeFailed;
    }
    return FileResult::NetworkFailed;
}

const char* TextFor(DownloadState state)
{
    switch (state) {
    case DownloadNetError: return kNetworkFailed;
    case DownloadFileError: return kDiskFull;
    default: return kDownloadAgain;
    }
}

// A pause asked while no transfer was running (between two files, or while a
// file was being digested) would be cleared unseen by the next transfer's
// OnBegin; it is honoured here instead.
void ParkIfRequested()
{
    if (g_downloadSession.pause.Requested()) {
        SetFace(StartFace::Continue);
        SetStatus(kPaused);
        g_downloadSession.pause.ParkWhileRequested();
    }
}

// Brings one needed entry into its final place.
void FetchEntry(HttpDownloader& downloader, MyDownloadState& progress, int index, const PlanEntry& entry,
                const std::string& folder, const std::string& baseUrl)
{
    const PartialFile file(entry.path);

    if (entry.localDiffers != 0)
        DeleteWithRetry(index, file.Path());
    if (entry.partialDiffers != 0) {
        DeleteWithRetry(index, file.PartialPath());
        DeleteWithRetry(index, file.SidePath());
    }

    // The path relative to the download folder, as listed.
    const std::string relative =
        entry.path.size() >= folder.size() ? entry.path.substr(folder.size()) : entry.path;
    const std::string url = baseUrl + relative;

    for (;;) {
        // The side file goes first, so a partial file never exists without
        // the version it belongs to.
        if (!file.WriteSideFile(entry.md5)) {
            Fail(index, file.Path(), FileResult::DiskFailed, kDiskFull);
            continue;
        }

        ParkIfRequested();
        DownloadState result = downloader.Download(&progress, url, file.PartialPath());
        while (result != DownloadOk) {
            if (result == DownloadStopped) {
                // A pause click stopped the transfer; a resume that came in
                // between leaves nothing to wait for.
                SetFace(StartFace::Continue);
                SetStatus(kPaused);
                g_downloadSession.pause.ParkWhileRequested();
            } else {
                Fail(index, file.Path(), ResultOf(result), TextFor(result));
            }
            result = downloader.Download(&progress, url, file.PartialPath());
        }

        if (file.PartialMatches(entry.md5))
            break;

        // Wrong bytes: they must not become the file, and a resume must not
        // continue them. The bytes counted for them are taken back.
        const std::uint64_t dropped = file.PartialLength();
        DeleteWithRetry(index, file.PartialPath());
        DeleteWithRetry(index, file.SidePath());
        std::uint64_t done = g_downloadSession.bytesDone;
        while (!g_downloadSession.bytesDone.compare_exchange_weak(done, done > dropped ? done - dropped : 0)) {
        }
        Fail(index, file.Path(), FileResult::WrongDigest, kDownloadAgain);
    }

    // The complete partial file is kept until the rename succeeds.
    while (file.Commit() != 0)
        Fail(index, file.Path(), FileResult::FileInUse, FileInUseText(file.Path()), false);
}

} // namespace

int CurrentDownloadEntry()
{
    return g_downloadSession.currentEntry;
}

int DownloadThreadProc()
{
    DownloadSession& session = g_downloadSession;
    if (std::shared_ptr<WorkerThread> check = session.CheckThread())
        check->Wait();

    // The plan is read once the check is over, and kept for the whole run.
    const std::shared_ptr<const PlannedFiles> plan = session.Plan();
    auto downloader = std::make_unique<HttpDownloader>();
    MyDownloadState* progress = session.NewProgress();
    session.activeProgress = progress;

    if (IDownloadWindow* window = Window())
        window->Show(IDC_BROWSE, false);
    SetFace(StartFace::Pause);

    const std::string folder = session.DownloadFolder();
    const std::string baseUrl = session.FileBaseUrl();
    const int count = plan != nullptr ? plan->FileCount() : 0;
    for (int i = 0; i < count; ++i) {
        const PlanEntry& entry = plan->entries[static_cast<std::size_t>(i)];
        if (entry.needed == 0)
            continue;
        session.currentEntry = i;
        FetchEntry(*downloader, *progress, i, entry, folder, baseUrl);
    }
    session.currentEntry = -1;

    session.DropPlan();
    session.installerReady = 1;
    SetFace(StartFace::Install);
    SetStatus(kComplete);
    AppendStep("D");
    SendMachineInfo("D");

    session.activeProgress = nullptr;
    return 0;
}
