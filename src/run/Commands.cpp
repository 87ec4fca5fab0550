#include "run/Commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/LocalConfig.h"
#include "planning/DownloadPlan.h"
#include "planning/Md5.h"
#include "platform/PathExists.h"
#include "platform/ProgramLauncher.h"
#include "platform/UniqueFd.h"
#include "platform/WorkerThread.h"
#include "run/CheckThread.h"
#include "run/DownloadSession.h"
#include "run/DownloadThread.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"
#include "run/MyDownloadState.h"
#include "run/RunReport.h"

namespace {

const LocalConfig& Config(IDownloadWindow* window)
{
    static const LocalConfig none;
    return window != nullptr ? window->Config() : none;
}

void RememberFolder(IDownloadWindow* window, const std::string& folder)
{
    StoreFolder(g_downloadSession.environment.FolderStore(), Config(window).m_strRegKey, folder);
}

// What the workers see of the window once the close command has halted
// them: nothing reaches the real window any more, and a worker that needs an
// answer waits for good, as the process is about to end.
class HaltedWindow final : public IDownloadWindow {
public:
    explicit HaltedWindow(LocalConfig config) : m_config(std::move(config)) {}
    const LocalConfig& Config() const override { return m_config; }
    void SetText(int, const std::string&) override {}
    void Enable(int, bool) override {}
    void Show(int, bool) override {}
    void SetFace(StartFace) override {}
    void HideMainWindow() override {}
    MessageAnswer Message(MessageOwner, const std::string&, MessageButtons, const std::string&) override
    {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
    void RunStartCommand() override {}

private:
    LocalConfig m_config;
};

// The workers cannot be frozen from outside without risking a lock they
// hold (the allocator's, the loader's) that the report needs. Instead their
// window is swapped for a silent one, and the transfer in hand is asked to
// stop after its current block, after which the download run parks.
void HaltWorkers(IDownloadWindow* window)
{
    DownloadSession& session = g_downloadSession;
    session.mainWindow = session.KeepHaltedWindow(std::make_unique<HaltedWindow>(Config(window)));
    session.progressBar = nullptr;
    session.pause.Request();
    if (MyDownloadState* progress = session.activeProgress.load())
        progress->RequestStop();
}

// Why the installer at fd may not be started: the empty text when it may.
// A listed installer must still be the bytes the list names; one that is
// not listed is started as it is.
std::string InstallerRefusal(int fd, const std::optional<std::array<char, 32>>& listed)
{
    if (!listed)
        return {};
    Md5Context context;
    unsigned char digest[16] = {};
    if (DigestDescriptor(fd, &context, digest) != DigestFileOk)
        return kInstallerUnreadable;
    const std::string text = DigestToHex(digest);
    // As the download run accepts a file: the listed digits in either case.
    return CompareDigestTextIgnoringCase(text.data(), *listed) == 0 ? std::string() : std::string(kInstallerChanged);
}

void LaunchInstaller(IDownloadWindow* window)
{
    const std::string path = g_downloadSession.InstallerPath();
    // The file whose digest is checked is the very file that starts: one
    // descriptor for both, so it cannot be swapped in between.
    const int opened = OpenProgram(path);
    const UniqueFd program(opened);
    std::string refusal = opened < 0 ? std::strerror(-opened)
                                     : InstallerRefusal(program.Get(), g_downloadSession.InstallerListedDigest());
    if (refusal.empty()) {
        if (const int error = LaunchOpenedProgram(program.Get(), path); error != 0)
            refusal = std::strerror(error);
    }
    if (!refusal.empty()) {
        // The folder stays remembered and the window stays: the user can
        // fix the cause and click again.
        window->Message(MessageOwner::MainWindow, std::string(kInstallerFailed) + path + "\n" + refusal);
        return;
    }
    RememberFolder(window, "");
    window->HideMainWindow();
    AppendStep("I");
    EndRun(EndReason::InstallerLaunched);
}

void StartDownload(IDownloadWindow* window)
{
    DownloadSession& session = g_downloadSession;
    auto thread = WorkerThread::Create([] { DownloadThreadProc(); });
    if (!session.PublishDownloadThread(thread))
        return;
    RememberFolder(window, session.DownloadFolder());

    const char* mark = session.folderFromRegistry == 0 ? "S" : "B";
    // The mark goes in before the thread runs, so the trace always reads it
    // before anything the download appends.
    AppendStep(mark);
    thread->Run();

    window->Show(IDC_PROGRESS, true);
    SendMachineInfo(mark);
}

} // namespace

void OnStartButton()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* window = session.mainWindow.load();
    if (window == nullptr)
        return;
    const std::string folder = session.DownloadFolder();
    const std::shared_ptr<WorkerThread> download = session.DownloadThread();

    if (folder.empty()) {
        if (window->Message(MessageOwner::MainWindow, kChooseFolderFirst, MessageButtons::OkCancel) ==
            MessageAnswer::Ok)
            OnBrowseButton();
        return;
    }
    if (session.installerReady == 1) {
        LaunchInstaller(window);
        return;
    }
    if (download != nullptr && session.pause.Requested()) {
        // A transfer that fails again at once sets the flag again for the
        // next click.
        window->SetFace(StartFace::Pause);
        window->SetText(IDC_STATUS, "");
        AppendStep("R");
        session.pause.Resume();
        return;
    }
    if (download != nullptr) {
        // The flag goes up before the transfer is stopped, so the stopped run
        // always finds it and parks.
        session.pause.Request();
        if (MyDownloadState* progress = session.activeProgress.load()) {
            progress->RequestStop();
            AppendStep("P");
        }
        return;
    }
    if (!PathExists(folder)) {
        session.SetDownloadFolder("");
        RememberFolder(window, "");
        window->SetText(IDC_FOLDER, kNoFolderPrompt);
        window->Message(MessageOwner::MainWindow, kFolderGone);
        window->Enable(IDC_BROWSE, true);
        window->Enable(IDC_START, true);
        return;
    }
    if (session.checkFinished == 1)
        StartDownload(window);
}

void OnCloseButton()
{
    IDownloadWindow* window = g_downloadSession.mainWindow.load();
    if (window != nullptr &&
        window->Message(MessageOwner::MainWindow, kCloseQuestion, MessageButtons::OkCancel, kCloseCaption) !=
            MessageAnswer::Ok)
        return;

    HaltWorkers(window);
    if (window != nullptr)
        window->HideMainWindow();
    EndRun(EndReason::Closed);
}

void OnBrowseButton()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* window = session.mainWindow.load();
    if (window == nullptr)
        return;
    if (const auto download = session.DownloadThread(); download != nullptr && !download->Finished())
        return;
    window->Enable(IDC_BROWSE, false);
    window->Enable(IDC_START, false);

    bool chosen = false;
    if (std::optional<std::string> path = window->ChooseFolder(kChooseFolderTitle);
        path && !path->empty() && path->front() == '/') {
        std::string folder = *path;
        if (folder.back() != '/')
            folder += '/';
        session.SetDownloadFolder(folder);
        chosen = true;
    }
    const std::string folder = session.DownloadFolder();
    if (!folder.empty())
        window->SetText(IDC_FOLDER, " " + folder);
    window->Enable(IDC_START, true);
    window->Enable(IDC_BROWSE, true);

    // A folder chosen again is checked again all the same.
    if (chosen)
        StartCheckRun(true);
}

std::shared_ptr<WorkerThread> StartCheckRun(bool keepHandle)
{
    DownloadSession& session = g_downloadSession;
    ++session.activeCheckRuns;
    auto thread = WorkerThread::Create([] {
        CheckThreadProc();
        --g_downloadSession.activeCheckRuns;
    });
    if (keepHandle)
        session.PublishCheckThread(thread);
    thread->Run();
    return thread;
}

bool CheckRunActive()
{
    return g_downloadSession.activeCheckRuns > 0;
}
