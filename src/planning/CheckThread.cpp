#include "planning/CheckThread.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/DownloadWindow.h"
#include "app/LocalConfig.h"
#include "app/RunEnvironment.h"
#include "app/StepTrace.h"
#include "planning/DownloadPlan.h"
#include "planning/DownloadSession.h"
#include "planning/ServerLists.h"
#include "platform/Drives.h"
#include "platform/PathExists.h"
#include "platform/TextConversion.h"
#include "platform/WorkerThread.h"
#include "transfer/UrlToFile.h"

namespace {

constexpr const char* CheckingText = "检测中...约3-5分钟";
constexpr const char* ListFailedText = "读取配置文件失败!\n请检查网络连接!";
// A refused list is not a network fault: its message names the line instead.
constexpr const char* ListRefusedText = "读取配置文件失败!\n";
constexpr const char* MaintenanceText = "服务器维护，暂时无可用更新!\n请稍后重新下载!";
constexpr const char* NoSpaceText = "磁盘空间不足，请重新选择下载目录!";
constexpr const char* DoneText = "下载完成!";
constexpr const char* ChooseFolderPrompt = "请设置下载路径";

std::mutex g_movedRunMutex;
std::shared_ptr<WorkerThread> g_movedRun;

// The list URL with the current time as a query value ("%s?t=%d"), so that no
// cache between us and the server answers with an old list.
std::string ListUrl(const std::string& configured)
{
    const auto now = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
    return configured + "?t=" + std::to_string(now);
}

[[noreturn]] void Abort(IDownloadWindow& window, bool hideWindow, const std::string& text)
{
    if (hideWindow)
        window.HideMainWindow();
    window.Message(MessageOwner::None, text);
    ReportAndTerminate();
}

// A list that names a file outside the download folder is refused whole:
// nothing of it is written, and the run ends like a list that cannot be read.
[[noreturn]] void RefuseList(IDownloadWindow& window, const std::string& listName, int lineNumber,
                             const std::string& name, const std::string& reason)
{
    window.HideMainWindow();
    window.Message(MessageOwner::None, std::string(ListRefusedText) + listName + " 第" +
                                           std::to_string(lineNumber) + "行的文件名" + reason +
                                           ", 不在下载目录内:\n" + LocaleToUtf8(name));
    ReportAndTerminate();
}

void SetSessionString(std::string DownloadSession::*field, const std::string& value)
{
    std::lock_guard lock(g_downloadSession.stringsMutex);
    g_downloadSession.*field = value;
}

// Space is short: the run gives the folder up. A folder the run chose itself
// moves to the first fixed drive with room and is checked anew there.
void GiveUpFolder(IDownloadWindow& window, const LocalConfig& config)
{
    DownloadSession& session = g_downloadSession;
    const std::uint64_t needed = session.bytesToFetch;
    session.SetDownloadFolder({});

    window.Enable(IDC_BROWSE, true);
    window.Enable(IDC_START, true);
    window.Show(IDC_START, true);
    window.Show(IDC_BROWSE, true);
    window.SetText(IDC_FOLDER, ChooseFolderPrompt);
    window.SetText(IDC_STATUS, {});
    // The check is over: the enabled button must not keep the checking face.
    // A click now asks for a folder.
    window.SetFace(kStartFace);

    session.folderFromRegistry = 0;
    session.checkFinished = 0;
    session.totalBytes = 0;
    session.bytesToFetch = 0;
    StoreFolder(RunFolderStore(), config.m_strRegKey, {});

    if (session.folderDefaulted == 0) {
        window.Message(MessageOwner::MainWindow, NoSpaceText);
        return;
    }

    const IDrives& drives = RunDrives();
    for (const DriveRoot& drive : drives.List()) {
        if (drive.type != DriveType::Fixed)
            continue;
        const auto free = drives.FreeBytes(drive.root);
        if (!free || *free <= needed)
            continue;
        const std::string folder = drive.root + config.m_strDir + "/";
        session.SetDownloadFolder(folder);
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        window.SetText(IDC_FOLDER, " " + folder);
        session.folderDefaulted = 0;
        auto run = WorkerThread::Create([] { CheckThreadProc(); });
        {
            std::lock_guard lock(g_movedRunMutex);
            g_movedRun = run;
        }
        run->Run();
        return;
    }
    window.Message(MessageOwner::MainWindow, NoSpaceText);
}

// The window of the session at each call, not the one the run started
// with: the close command swaps in a silent window to halt what a run still
// going would do to the real one.
class SessionWindow final : public IDownloadWindow {
public:
    explicit SessionWindow(IDownloadWindow& first) : m_first(first) {}

    const LocalConfig& Config() const override { return Target().Config(); }
    void SetText(int control, const std::string& text) override { Target().SetText(control, text); }
    void Enable(int control, bool enabled) override { Target().Enable(control, enabled); }
    void Show(int control, bool shown) override { Target().Show(control, shown); }
    void SetFace(const StateImageIds& face) override { Target().SetFace(face); }
    void HideMainWindow() override { Target().HideMainWindow(); }
    MessageAnswer Message(MessageOwner owner, const std::string& text, MessageButtons buttons,
                          const std::string& caption) override
    {
        return Target().Message(owner, text, buttons, caption);
    }
    std::optional<std::string> ChooseFolder(const std::string& title) override { return Target().ChooseFolder(title); }
    void RunStartCommand() override { Target().RunStartCommand(); }

private:
    IDownloadWindow& Target() const
    {
        IDownloadWindow* current = g_downloadSession.mainWindow.load();
        return current != nullptr ? *current : m_first;
    }

    IDownloadWindow& m_first;
};

} // namespace

std::shared_ptr<WorkerThread> LastMovedCheckRun()
{
    std::lock_guard lock(g_movedRunMutex);
    return g_movedRun;
}

int CheckThreadProc()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* const windowPointer = session.mainWindow;
    if (windowPointer == nullptr)
        return 1;
    SessionWindow sessionWindow(*windowPointer);
    IDownloadWindow& window = sessionWindow;
    const LocalConfig config = window.Config();

    std::string folder = session.DownloadFolder();
    const std::string updateListPath = folder + UpdateListName;
    const std::string setupListPath = folder + SetupListName;

    // The remembered folder may have been removed since the window chose it.
    if (!folder.empty() && !PathExists(folder)) {
        session.SetDownloadFolder({});
        StoreFolder(RunFolderStore(), config.m_strRegKey, {});
        window.SetText(IDC_FOLDER, ChooseFolderPrompt);
        window.Enable(IDC_BROWSE, true);
        window.Enable(IDC_START, true);
        return 0;
    }

    session.ResetPlan();
    window.Enable(IDC_START, false);
    window.Enable(IDC_BROWSE, false);
    window.SetText(IDC_STATUS, CheckingText);

    if (!UrlToFile(ListUrl(config.m_strUpdate), updateListPath))
        Abort(window, true, ListFailedText);
    if (!UrlToFile(ListUrl(config.m_strSetup), setupListPath))
        Abort(window, true, ListFailedText);

    std::string installerName;
    {
        std::ifstream setupList(setupListPath, std::ios::binary);
        if (!setupList)
            Abort(window, false, ListFailedText);
        installerName = ReadInstallerName(setupList);
    }
    std::remove(setupListPath.c_str());
    if (const auto reason = UnsafeNameReason(installerName)) {
        std::remove(updateListPath.c_str());
        RefuseList(window, SetupListName, 1, installerName, *reason);
    }
    SetSessionString(&DownloadSession::installerPath, folder + ListedNameToLocalPath(LocaleToUtf8(installerName)));

    std::ifstream updateList(updateListPath, std::ios::binary);
    const UpdateListHead head = ReadUpdateListHead(updateList);
    if (!head.Available())
        Abort(window, true, MaintenanceText);
    session.SetListVersion(head.version);
    window.SetText(IDC_VERSION, "版本信息:" + LocaleToUtf8(head.version));
    SetSessionString(&DownloadSession::fileBaseUrl, head.baseUrl);

    // Every name is looked at before anything is made on disk.
    const std::vector<FileLine> files = ReadFileLines(updateList);
    for (const FileLine& file : files) {
        if (const auto reason = UnsafeNameReason(file.name)) {
            updateList.close();
            std::remove(updateListPath.c_str());
            RefuseList(window, UpdateListName, file.lineNumber, file.name, *reason);
        }
    }
    BuildDownloadPlan(session, folder, head.baseUrl, files);

    if (session.bytesToFetch != 0 && !folder.empty()) {
        // A failed query cannot tell; the download then meets a full disk
        // with its own message.
        const auto free = RunDrives().FreeBytes(folder);
        if (free && *free <= session.bytesToFetch) {
            updateList.close();
            std::remove(updateListPath.c_str());
            GiveUpFolder(window, config);
            return 0;
        }
    }

    // Nothing left to fetch. Judged by the files, not by the byte count: a
    // missing file of unknown or zero size, or a complete partial file not yet
    // renamed into place, adds no bytes but is still missing.
    bool anyNeeded = false;
    for (const PlanEntry& entry : *session.plan)
        anyNeeded = anyNeeded || entry.needed != 0;
    if (!anyNeeded) {
        window.SetText(IDC_STATUS, DoneText);
        window.SetFace(kInstallFace);
        session.installerReady = 1;
    }

    if (!folder.empty())
        window.SetText(IDC_FOLDER, " " + folder);

    if (session.installerReady == 1) {
        window.Show(IDC_BROWSE, false);
        window.Enable(IDC_BROWSE, false);
        if (IProgressBar* bar = session.progressBar)
            bar->SetPos(100);
    } else {
        window.Show(IDC_BROWSE, true);
        window.Enable(IDC_BROWSE, true);
        window.SetText(IDC_STATUS, {});
        window.SetFace(kStartFace);
    }
    window.Show(IDC_START, true);
    window.Enable(IDC_START, true);

    updateList.close();
    std::remove(updateListPath.c_str());
    session.checkFinished = 1;
    if (session.installerReady == 0 && session.folderFromRegistry == 1)
        window.RunStartCommand();
    return 0;
}
