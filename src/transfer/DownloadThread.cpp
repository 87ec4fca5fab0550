#include "transfer/DownloadThread.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/ButtonFaces.h"
#include "app/DownloadWindow.h"
#include "app/StepTrace.h"
#include "planning/DownloadSession.h"
#include "planning/Md5.h"
#include "platform/WorkerThread.h"
#include "transfer/HttpDownloader.h"
#include "transfer/MyDownloadState.h"

namespace {

const char kFileInUse[] = "请关闭正在使用%s文件的程序后重试!";
const char kNetError[] = "下载失败!\n请检查网络连接后重试!";
const char kDiskFull[] = "磁盘空间不足!\n请释放空间!";
const char kDownloadAgain[] = "下载失败!\n请重新下载!";
const char kPaused[] = "下载暂停";
const char kComplete[] = "下载完成!";

std::atomic<int> g_currentEntry{-1};
// The progress object of the last run. It outlives its run so that a start or
// close command that read activeProgress just before the run cleared it still
// writes to a live object; the next run replaces it.
std::unique_ptr<MyDownloadState> g_lastProgress;

// The window is looked up for every operation: the close command swaps in a
// silent one to halt this thread's effects on the real window.
IDownloadWindow* Window()
{
    return g_downloadSession.mainWindow.load();
}

void SetFace(const StateImageIds& face)
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

// Shows the continue face and "下载暂停", sets paused and parks this thread
// until the start command resumes it.
void EnterPause()
{
    SetFace(kContinueFace);
    SetStatus(kPaused);
    g_downloadSession.paused = 1;
    WorkerThread* self = WorkerThread::Current();
    std::shared_ptr<WorkerThread> published;
    if (self == nullptr) {
        published = g_downloadSession.DownloadThread();
        self = published.get();
    }
    if (self != nullptr)
        self->SuspendSelf();
}

// Removes a file that has to go before a transfer. A file that cannot be
// removed is named in a message and the run pauses until the user resumes it.
void DeleteWithRetry(const std::string& path)
{
    while (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        ShowMessage(FileInUseText(path));
        EnterPause();
    }
}

// Writes the 32 digest characters as the whole side file.
bool WriteSideFile(const std::string& path, const std::array<char, 32>& md5)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < md5.size()) {
        const ssize_t n = ::write(fd, md5.data() + written, md5.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool closed = ::close(fd) == 0;
    return written == md5.size() && closed;
}

// Whether the file's digest is the listed one. Hexadecimal digits are
// compared without regard to case: a list written in uppercase names the
// same bytes.
bool DigestMatches(const std::string& path, const std::array<char, 32>& md5)
{
    Md5Context context;
    unsigned char digest[16];
    if (DigestFile(path, &context, digest) != 0)
        return false;
    const std::string hex = DigestToHex(digest);
    for (std::size_t i = 0; i < md5.size(); ++i) {
        const auto listed = static_cast<unsigned char>(md5[i]);
        if (std::tolower(listed) != static_cast<unsigned char>(hex[i]))
            return false;
    }
    return true;
}

std::uint64_t FileLength(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

// A user's pause that arrived while no transfer was running (between two
// files, or while a file was being digested) would be cleared unseen by the
// next transfer's OnBegin; it is honoured here instead.
void PauseIfRequested(MyDownloadState& progress)
{
    if (g_downloadSession.paused == 1 && progress.StopRequested())
        EnterPause();
}

void MessageForFailure(DownloadState result)
{
    switch (result) {
    case DownloadNetError:
        ShowMessage(kNetError);
        break;
    case DownloadFileError:
        ShowMessage(kDiskFull);
        break;
    default:
        ShowMessage(kDownloadAgain);
        break;
    }
    AppendStep("E");
}

// Brings one needed entry into its final place.
void FetchEntry(HttpDownloader& downloader, MyDownloadState& progress, const PlanEntry& entry,
                const std::string& folder, const std::string& baseUrl)
{
    const std::string partial = entry.path + ".tmp";
    const std::string side = entry.path + ".des";

    if (entry.localDiffers != 0)
        DeleteWithRetry(entry.path);
    if (entry.partialDiffers != 0) {
        DeleteWithRetry(partial);
        DeleteWithRetry(side);
    }

    // The path relative to the download folder, as listed.
    const std::string relative =
        entry.path.size() >= folder.size() ? entry.path.substr(folder.size()) : entry.path;
    const std::string url = baseUrl + relative;

    for (;;) {
        // The side file goes first, so a partial file never exists without
        // the version it belongs to.
        if (!WriteSideFile(side, entry.md5)) {
            MessageForFailure(DownloadFileError);
            EnterPause();
            continue;
        }

        PauseIfRequested(progress);
        DownloadState result = downloader.Download(&progress, url, partial);
        while (result != DownloadOk) {
            if (result != DownloadStopped)
                MessageForFailure(result);
            EnterPause();
            result = downloader.Download(&progress, url, partial);
        }

        if (DigestMatches(partial, entry.md5))
            break;

        // Wrong bytes: they must not become the file, and a resume must not
        // continue them. The bytes counted for them are taken back.
        const std::uint64_t dropped = FileLength(partial);
        DeleteWithRetry(partial);
        DeleteWithRetry(side);
        std::uint64_t done = g_downloadSession.bytesDone;
        while (!g_downloadSession.bytesDone.compare_exchange_weak(done, done > dropped ? done - dropped : 0)) {
        }
        ShowMessage(kDownloadAgain);
        AppendStep("E");
        EnterPause();
    }

    // The complete partial file is kept until the rename succeeds.
    while (std::rename(partial.c_str(), entry.path.c_str()) != 0) {
        ShowMessage(FileInUseText(entry.path));
        EnterPause();
    }
    ::unlink(side.c_str());
}

} // namespace

int CurrentDownloadEntry()
{
    return g_currentEntry;
}

int DownloadThreadProc()
{
    DownloadSession& session = g_downloadSession;
    if (std::shared_ptr<WorkerThread> check = session.CheckThread())
        check->Wait();

    {
        auto downloader = std::make_unique<HttpDownloader>();
        g_lastProgress = std::make_unique<MyDownloadState>();
        MyDownloadState* progress = g_lastProgress.get();
        session.activeProgress = progress;

        if (IDownloadWindow* window = Window())
            window->Show(IDC_BROWSE, false);
        SetFace(kPauseFace);

        const std::string folder = session.DownloadFolder();
        std::string baseUrl;
        {
            std::lock_guard lock(session.stringsMutex);
            baseUrl = session.fileBaseUrl;
        }
        const int count = session.fileCount;
        for (int i = 0; i < count && session.plan != nullptr && i < static_cast<int>(session.plan->size()); ++i) {
            const PlanEntry& entry = (*session.plan)[static_cast<std::size_t>(i)];
            if (entry.needed == 0)
                continue;
            g_currentEntry = i;
            FetchEntry(*downloader, *progress, entry, folder, baseUrl);
        }
        g_currentEntry = -1;

        session.plan.reset();
        session.installerReady = 1;
        SetFace(kInstallFace);
        SetStatus(kComplete);
        AppendStep("D");
        SendMachineInfo("D");

        session.activeProgress = nullptr;
    }
    return 0;
}
