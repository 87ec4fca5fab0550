#include "app/Commands.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/ButtonFaces.h"
#include "app/DownloadWindow.h"
#include "app/LocalConfig.h"
#include "app/RunEnvironment.h"
#include "app/StepTrace.h"
#include "planning/CheckThread.h"
#include "planning/DownloadSession.h"
#include "platform/PathExists.h"
#include "platform/ProgramLauncher.h"
#include "platform/WorkerThread.h"
#include "transfer/DownloadThread.h"
#include "transfer/MyDownloadState.h"

namespace {

const char kChooseFirst[] = "请先选择下载路径";
const char kFolderGone[] = "下载路径不存在!\n请重新选择下载路径!";
const char kSetFolder[] = "请设置下载路径";
const char kChooseTitle[] = "请选择下载路径:";
const char kCloseQuestion[] = "下载未完成,是否仍要关闭?";
const char kCloseCaption[] = "关闭";
const char kInstallerFailed[] = "安装程序启动失败!\n";

std::atomic<EndRoutine> g_endRoutine{nullptr};
std::atomic<int> g_activeCheckRuns{0};

[[noreturn]] void EndProcess(EndReason reason)
{
    if (EndRoutine routine = g_endRoutine.load())
        routine(reason);
    ReportAndTerminate();
}

const LocalConfig& Config(IDownloadWindow* window)
{
    static const LocalConfig none;
    return window != nullptr ? window->Config() : none;
}

void RememberFolder(IDownloadWindow* window, const std::string& folder)
{
    StoreFolder(RunFolderStore(), Config(window).m_strRegKey, folder);
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
    void SetFace(const StateImageIds&) override {}
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
// stop after its current block, after which the download thread parks
// itself.
void HaltWorkers(IDownloadWindow* window)
{
    static HaltedWindow* halted = new HaltedWindow(Config(window));
    g_downloadSession.mainWindow = halted;
    g_downloadSession.progressBar = nullptr;
    if (MyDownloadState* progress = g_downloadSession.activeProgress.load())
        progress->RequestStop();
}

void LaunchInstaller(IDownloadWindow* window)
{
    std::string path;
    {
        std::lock_guard lock(g_downloadSession.stringsMutex);
        path = g_downloadSession.installerPath;
    }
    const int error = LaunchProgram(path);
    if (error != 0) {
        // The folder stays remembered and the window stays: the user can
        // fix the cause and click again.
        window->Message(MessageOwner::MainWindow, std::string(kInstallerFailed) + path + "\n" + std::strerror(error));
        return;
    }
    RememberFolder(window, "");
    window->HideMainWindow();
    AppendStep("I");
    EndProcess(EndReason::InstallerLaunched);
}

void StartDownload(IDownloadWindow* window)
{
    DownloadSession& session = g_downloadSession;
    RememberFolder(window, session.DownloadFolder());

    const char* mark = session.folderFromRegistry == 0 ? "S" : "B";
    auto thread = WorkerThread::Create([] { DownloadThreadProc(); });
    {
        std::lock_guard lock(session.threadsMutex);
        session.downloadThread = thread;
    }
    // The mark goes in before the thread runs, so the trace always reads it
    // before anything the download appends.
    AppendStep(mark);
    thread->Run();

    window->Show(IDC_PROGRESS, true);
    SendMachineInfo(mark);
}

} // namespace

void SetEndRoutine(EndRoutine routine)
{
    g_endRoutine = routine;
}

void OnStartButton()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* window = session.mainWindow.load();
    if (window == nullptr)
        return;
    const std::string folder = session.DownloadFolder();
    const std::shared_ptr<WorkerThread> download = session.DownloadThread();

    if (folder.empty()) {
        if (window->Message(MessageOwner::MainWindow, kChooseFirst, MessageButtons::OkCancel) == MessageAnswer::Ok)
            OnBrowseButton();
        return;
    }
    if (session.installerReady == 1) {
        LaunchInstaller(window);
        return;
    }
    if (download != nullptr && session.paused == 1) {
        // paused is cleared before the thread runs again, so a transfer that
        // fails again at once leaves it set for the next click.
        window->SetFace(kPauseFace);
        window->SetText(IDC_STATUS, "");
        AppendStep("R");
        session.paused = 0;
        download->Resume();
        return;
    }
    if (download != nullptr) {
        MyDownloadState* progress = session.activeProgress.load();
        if (progress == nullptr) {
            session.paused = 1;
            return;
        }
        progress->RequestStop();
        AppendStep("P");
        session.paused = 1;
        return;
    }
    if (!PathExists(folder)) {
        session.SetDownloadFolder("");
        RememberFolder(window, "");
        window->SetText(IDC_FOLDER, kSetFolder);
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
    std::remove("setup.txt");
    std::remove("update.txt");
    if (window != nullptr)
        window->HideMainWindow();
    EndProcess(EndReason::Closed);
}

void OnBrowseButton()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* window = session.mainWindow.load();
    if (window == nullptr)
        return;
    window->Enable(IDC_BROWSE, false);
    window->Enable(IDC_START, false);

    bool chosen = false;
    if (std::optional<std::string> path = window->ChooseFolder(kChooseTitle); path && !path->empty() &&
                                                                               path->front() == '/') {
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
    ++g_activeCheckRuns;
    auto thread = WorkerThread::Create([] {
        CheckThreadProc();
        --g_activeCheckRuns;
    });
    if (keepHandle) {
        std::lock_guard lock(g_downloadSession.threadsMutex);
        g_downloadSession.checkThread = thread;
    }
    thread->Run();
    return thread;
}

bool CheckRunActive()
{
    return g_activeCheckRuns > 0;
}
