#include "run/DownloadThread.h"

#include <cerrno>
#include <exception>
#include <memory>

#include "planning/PartialFile.h"
#include "platform/FolderBeneath.h"
#include "platform/TextConversion.h"
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

std::string WithPath(const char* format, const std::string& path)
{
    const std::string text = format;
    const auto at = text.find("%s");
    return text.substr(0, at) + EscapeControlCharacters(path) + text.substr(at + 2);
}

std::string FileInUseText(const std::string& path)
{
    return WithPath(kFileInUse, path);
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

// A step on one of the file's names failed: a link, FIFO, device or folder
// there is named as such (something in the way, no transfer failure: no
// "E"); any other failure gets the step's own result and text.
void FailOn(int index, const PartialFile& file, PartialFile::Name name, FolderStatus status, FileResult result,
            const std::string& text, bool mark = true)
{
    const std::string path = file.FullPath(name);
    if (status.result == FolderResult::Link || status.result == FolderResult::NotRegular ||
        status.result == FolderResult::Outside)
        Fail(index, path, FileResult::NotAFile, WithPath(kNotAFile, path), false);
    else
        Fail(index, file.Path(), result, text, mark);
}

// Removes a file that has to go before a transfer. A file that cannot be
// removed is named in a message and the run pauses until the user resumes it.
void DeleteWithRetry(int index, const PartialFile& file, PartialFile::Name name)
{
    for (FolderStatus status; !(status = file.Remove(name)).Ok();)
        FailOn(index, file, name, status, FileResult::FileInUse, FileInUseText(file.FullPath(name)), false);
}

// Opens the partial file beneath the folder and transfers into it.
DownloadState TransferInto(HttpDownloader& downloader, MyDownloadState& progress, int index, const PartialFile& file,
                           const std::string& url)
{
    for (;;) {
        UniqueFd partial;
        const FolderStatus status = file.OpenPartial(partial);
        if (status.Ok())
            return downloader.Download(&progress, url, std::move(partial));
        FailOn(index, file, PartialFile::Name::Partial, status, FileResult::DiskFailed, kDiskFull);
    }
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
                const FolderBeneath& beneath, const std::string& folder, const std::string& baseUrl)
{
    // The path relative to the download folder, as listed.
    const std::string relative =
        entry.path.size() >= folder.size() ? entry.path.substr(folder.size()) : entry.path;
    const std::string url = baseUrl + relative;
    const PartialFile file(beneath, folder, relative);

    // A link, FIFO, device or folder at one of the names is never opened,
    // removed or followed: the player is told and the run waits.
    PartialFile::Name which = PartialFile::Name::Final;
    for (FolderStatus status; !(status = file.CheckNames(which)).Ok();)
        FailOn(index, file, which, status, FileResult::DiskFailed, kDiskFull);

    if (entry.localDiffers != 0)
        DeleteWithRetry(index, file, PartialFile::Name::Final);
    if (entry.partialDiffers != 0) {
        DeleteWithRetry(index, file, PartialFile::Name::Partial);
        DeleteWithRetry(index, file, PartialFile::Name::Side);
    }

    for (;;) {
        if (const FolderStatus status = file.MakeFolders(); !status.Ok()) {
            FailOn(index, file, PartialFile::Name::Final, status, FileResult::DiskFailed, kDiskFull);
            continue;
        }
        // The side file goes first, so a partial file never exists without
        // the version it belongs to.
        if (const FolderStatus status = file.WriteSideFile(entry.md5); !status.Ok()) {
            FailOn(index, file, PartialFile::Name::Side, status, FileResult::DiskFailed, kDiskFull);
            continue;
        }

        ParkIfRequested();
        DownloadState result = TransferInto(downloader, progress, index, file, url);
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
            result = TransferInto(downloader, progress, index, file, url);
        }

        if (file.PartialMatches(entry.md5))
            break;

        // Wrong bytes: they must not become the file, and a resume must not
        // continue them. The bytes counted for them are taken back.
        const std::uint64_t dropped = file.PartialLength();
        DeleteWithRetry(index, file, PartialFile::Name::Partial);
        DeleteWithRetry(index, file, PartialFile::Name::Side);
        std::uint64_t done = g_downloadSession.bytesDone;
        while (!g_downloadSession.bytesDone.compare_exchange_weak(done, done > dropped ? done - dropped : 0)) {
        }
        Fail(index, file.Path(), FileResult::WrongDigest, kDownloadAgain);
    }

    // The complete partial file is kept until the rename succeeds.
    for (FolderStatus status; !(status = file.Commit()).Ok();)
        FailOn(index, file, PartialFile::Name::Final, status, FileResult::FileInUse, FileInUseText(file.Path()), false);
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
    // Every file of the run is reached beneath this one open folder.
    const FolderBeneath beneath(folder.empty() ? std::string("./") : folder);
    const int count = plan != nullptr ? plan->FileCount() : 0;
    for (int i = 0; i < count;) {
        const PlanEntry& entry = plan->entries[static_cast<std::size_t>(i)];
        try {
            if (entry.needed != 0) {
                session.currentEntry = i;
                FetchEntry(*downloader, *progress, i, entry, beneath, folder, baseUrl);
            }
            ++i;
        } catch (const std::exception&) {
            // Out of memory or worse: said, and the file is tried again on continue.
            Fail(i, entry.path, FileResult::Failed, kRunFailed);
        }
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
