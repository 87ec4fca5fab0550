#include "run/CheckThread.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/DownloadSession.h"
#include "run/Messages.h"
#include "app/SignedSequenceStore.h"
#include "planning/Md5.h"
#include "planning/Minisign.h"
#include "platform/Drives.h"
#include "platform/FolderStore.h"
#include "platform/WorkerThread.h"
#include "support/FaultServer.h"
#include "support/MinisignTool.h"
#include "support/NginxServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* CheckingText = "检测中...约3-5分钟";
constexpr const char* ListFailedText = "读取配置文件失败!\n请检查网络连接!";
constexpr const char* NoSpaceText = "磁盘空间不足，请重新选择下载目录!";
constexpr const char* Prompt = "请设置下载路径";
constexpr const char* RegKey = "folder";

// Drives with made-up free space; a path is on the drive whose root is its
// longest prefix.
class ScriptedDrives final : public IDrives {
public:
    std::vector<DriveRoot> List() const override { return roots; }
    std::optional<std::uint64_t> FreeBytes(const std::string& path) const override
    {
        std::optional<std::uint64_t> best;
        std::size_t bestLength = 0;
        for (const auto& [root, bytes] : free) {
            if (path.compare(0, root.size(), root) == 0 && root.size() >= bestLength) {
                best = bytes;
                bestLength = root.size();
            }
        }
        return best;
    }
    std::vector<DriveRoot> roots;
    std::map<std::string, std::uint64_t> free;
};

// For runs that end the process: what the window is asked to do goes to
// standard error, where the death test can see it.
class PrintingWindow final : public IDownloadWindow {
public:
    explicit PrintingWindow(LocalConfig config) : m_config(std::move(config)) {}
    const LocalConfig& Config() const override { return m_config; }
    void SetText(int, const std::string&) override {}
    void Enable(int, bool) override {}
    void Show(int, bool) override {}
    void SetFace(StartFace) override {}
    void HideMainWindow() override { std::cerr << "HIDE\n"; }
    MessageAnswer Message(MessageOwner owner, const std::string& text, MessageButtons, const std::string&) override
    {
        std::cerr << "MESSAGE " << (owner == MessageOwner::None ? "none " : "main ") << text << "\n";
        return MessageAnswer::Ok;
    }
    std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
    void RunStartCommand() override { std::cerr << "START\n"; }

private:
    LocalConfig m_config;
};

// A check run that talks to a PrintingWindow, for runs that end the process.
void CheckInPrintingWindow(const LocalConfig& config)
{
    PrintingWindow printing(config);
    g_downloadSession.mainWindow = &printing;
    CheckThreadProc();
}

struct ServedFile {
    std::string name; // as listed, '\' between folders
    std::string content;
};

class CheckRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_downloadSession.ResetForTest();
        g_downloadSession.mainWindow = &window;
        g_downloadSession.progressBar = &bar;
        g_downloadSession.environment = RunEnvironment{&store, &drives, &sequences};
        window.config.m_strUpdate = server.BaseUrl() + "lists/update.txt";
        window.config.m_strSetup = server.BaseUrl() + "lists/setup.txt";
        window.config.m_strRegKey = RegKey;
        window.config.m_strDir = "Game";
        drives.roots = {{folder.Folder(), DriveType::Fixed}};
        drives.free = {{folder.Folder(), std::uint64_t{1} << 40}};
        g_downloadSession.SetDownloadFolder(folder.Folder());
        m_sysrepLog = reports.Folder() + "sysrep.log";
        setenv("SYSREP_LOG", m_sysrepLog.c_str(), 1);
    }

    void TearDown() override
    {
        unsetenv("SYSREP_LOG");
        g_downloadSession.ResetForTest();
    }

    std::string FileBase() const { return server.BaseUrl() + "game/"; }

    // Serves the files and lists them (status "1", version "v1") with the
    // installer named in setup.txt. extraLines go after the file lines.
    void Publish(const std::vector<ServedFile>& files, const std::string& installer = "setup.exe",
                 const std::string& extraLines = "")
    {
        std::string update = "1\nv1\n" + FileBase() + "\n";
        for (const ServedFile& file : files) {
            std::string path = file.name;
            std::replace(path.begin(), path.end(), '\\', '/');
            server.Put("game/" + path, file.content);
            update += file.name + "," + Md5Of(file.content) + "\n";
        }
        server.Put("lists/update.txt", update + extraLines);
        server.Put("lists/setup.txt", installer + "\r\n");
    }

    std::vector<std::string> Reports() const
    {
        std::vector<std::string> lines;
        std::istringstream in(ReadFileText(m_sysrepLog));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    NginxServer server;
    TempDir folder;
    TempDir reports;
    RecordingWindow window;
    RecordingProgressBar bar;
    MemoryFolderStore store;
    ScriptedDrives drives;
    MemorySignedSequenceStore sequences;

private:
    std::string m_sysrepLog;
};

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

} // namespace

// The four rows of the plan's decision against a real server, and the window
// a run leaves behind when something is left to fetch.
TEST_F(CheckRun, plans_present_changed_resumable_and_stale_files_with_exact_totals)
{
    const std::string good(3000, 'g');
    const std::string changed(5000, 'c');
    const std::string resumed(4000, 'r');
    const std::string stale(7000, 's');
    Publish({{"present.bin", good}, {"changed.bin", changed}, {"resumed.bin", resumed}, {"stale.bin", stale}});
    folder.Write("present.bin", good);
    folder.Write("changed.bin", "an older build");
    folder.Write("resumed.bin.des", Md5Of(resumed));
    folder.Write("resumed.bin.tmp", resumed.substr(0, 1000));
    folder.Write("stale.bin.des", Md5Of("older version"));
    folder.Write("stale.bin.tmp", std::string(2500, 'x'));

    EXPECT_EQ(CheckThreadProc(), 0);

    DownloadSession& s = g_downloadSession;
    ASSERT_EQ(s.fileCount.load(), 4);
    const int needed[] = {0, 1, 1, 1};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(s.Plan()->entries[i].needed, needed[i]) << i;
    EXPECT_EQ(s.Plan()->entries[3].partialDiffers != 0, true);
    EXPECT_EQ(s.totalBytes.load(), 19000u);
    EXPECT_EQ(s.bytesDone.load(), 3000u + 1000u);
    EXPECT_EQ(s.bytesToFetch.load(), 5000u + 3000u + 7000u);
    EXPECT_EQ(s.checkFinished.load(), 1);
    EXPECT_EQ(s.installerReady.load(), 0);
    EXPECT_EQ(s.InstallerPath(), folder.Folder() + "setup.exe");
    EXPECT_EQ(s.FileBaseUrl(), FileBase());
    EXPECT_EQ(s.ListVersion(), "v1");

    EXPECT_EQ(window.Text(IDC_VERSION), "版本信息:v1");
    EXPECT_EQ(window.Text(IDC_STATUS), "");
    EXPECT_EQ(window.Text(IDC_FOLDER), " " + folder.Folder());
    EXPECT_EQ(window.Face(), StartFace::Start);
    EXPECT_TRUE(window.Enabled(IDC_START));
    EXPECT_TRUE(window.Visible(IDC_BROWSE));
    EXPECT_TRUE(window.Enabled(IDC_BROWSE));
    // Both buttons were off while the run checked, and the status said so.
    const auto events = window.Events();
    const auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    EXPECT_LT(at("enable 1000 0"), at("enable 1003 0"));
    EXPECT_LT(at("enable 1003 0"), at(std::string("text 1010 ") + CheckingText));
    EXPECT_LT(at(std::string("text 1010 ") + CheckingText), at("enable 1000 1"));
    // Nothing starts by itself for a folder that was not remembered, and the
    // run cleans its copies of the lists away.
    EXPECT_EQ(at("start"), static_cast<long>(events.size()));
    EXPECT_FALSE(fs::exists(folder.Path() / "update.txt"));
    EXPECT_FALSE(fs::exists(folder.Path() / "setup.txt"));
}

TEST_F(CheckRun, every_file_present_gives_the_install_face_and_nothing_starts)
{
    Publish({{"setup.exe", "installer"}, {"data\\a.pak", "a"}});
    folder.Write("setup.exe", "installer");
    folder.Write("data/a.pak", "a");
    g_downloadSession.folderFromRegistry = 1;

    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.installerReady.load(), 1);
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 1);
    EXPECT_EQ(g_downloadSession.bytesToFetch.load(), 0u);
    EXPECT_EQ(g_downloadSession.bytesDone.load(), g_downloadSession.totalBytes.load());
    EXPECT_EQ(g_downloadSession.totalBytes.load(), 10u);
    EXPECT_EQ(window.Text(IDC_STATUS), "下载完成!");
    EXPECT_EQ(window.Face(), StartFace::Install);
    EXPECT_TRUE(window.Enabled(IDC_START));
    EXPECT_FALSE(window.Visible(IDC_BROWSE));
    EXPECT_FALSE(window.Enabled(IDC_BROWSE));
    EXPECT_EQ(bar.Pos(), 100);
    const auto events = window.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "start"), 0);
}

TEST_F(CheckRun, returning_user_starts_the_download_after_the_check_finished)
{
    Publish({{"big.bin", std::string(10000, 'b')}});
    g_downloadSession.folderFromRegistry = 1;
    int checkFinishedWhenStarted = -1;
    window.onStartCommand = [&] { checkFinishedWhenStarted = g_downloadSession.checkFinished.load(); };

    EXPECT_EQ(CheckThreadProc(), 0);

    const auto events = window.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "start"), 1);
    EXPECT_EQ(events.back(), "start");
    EXPECT_EQ(checkFinishedWhenStarted, 1);
}

// A run still going when the window is swapped (as the close command does to
// halt the workers) talks only to the new window from then on.
TEST_F(CheckRun, run_follows_the_session_window_when_it_is_swapped)
{
    FaultReply slowList;
    slowList.body = "1\nv1\nhttp://unused/\n";
    slowList.headerDelayMs = 700;
    FaultReply setupList;
    setupList.body = "setup.exe";
    FaultServer slow;
    slow.SetScript({slowList, setupList});
    window.config.m_strUpdate = slow.BaseUrl() + "update.txt";
    window.config.m_strSetup = slow.BaseUrl() + "setup.txt";
    RecordingWindow replacement;
    replacement.config = window.config;

    auto run = WorkerThread::Start([] { CheckThreadProc(); });
    ASSERT_TRUE(window.WaitFor([](const RecordingWindow& w) { return w.Text(IDC_STATUS) == CheckingText; }));
    const std::size_t eventsBeforeSwap = window.Events().size();
    g_downloadSession.mainWindow = &replacement;
    run->Wait();

    EXPECT_EQ(window.Events().size(), eventsBeforeSwap);
    EXPECT_EQ(replacement.Face(), StartFace::Install);
    EXPECT_EQ(replacement.Text(IDC_STATUS), "下载完成!");
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 1);
}

// Lists that hold no file: only the status line, or only the head.
TEST_F(CheckRun, lists_without_file_lines_leave_nothing_to_fetch)
{
    const char* lists[] = {"1", "1\n", "1\r\nv1\r\n" /* no base line */, "1\nv1\nhttp://unused/\n"};
    for (const char* list : lists) {
        server.Put("lists/update.txt", list);
        server.Put("lists/setup.txt", "setup.exe");
        g_downloadSession.installerReady = 0;

        EXPECT_EQ(CheckThreadProc(), 0) << list;
        EXPECT_EQ(g_downloadSession.fileCount.load(), 0) << list;
        EXPECT_EQ(g_downloadSession.totalBytes.load(), 0u) << list;
        EXPECT_EQ(g_downloadSession.bytesToFetch.load(), 0u) << list;
        EXPECT_EQ(g_downloadSession.installerReady.load(), 1) << list;
        EXPECT_EQ(window.Face(), StartFace::Install) << list;
    }
}

// CRLF line ends, a line without a comma, a short digest, nested folders and
// a file the server does not have, in one list.
TEST_F(CheckRun, list_quirks_are_read_as_the_format_says)
{
    server.Put("game/a/b/deep.dat", "deep content");
    server.Put("lists/update.txt", "1\r\nv2\r\n" + FileBase() + "\r\n" + "a\\b\\deep.dat," +
                                       Md5Of("deep content") + "\r\n" + "this line has no comma\r\n" + "missing.dat," + Md5Of("gone") + "\r\n");
    server.Put("lists/setup.txt", "a\\setup.exe\r\n");
    folder.Write("a/b/deep.dat", "deep content");

    EXPECT_EQ(CheckThreadProc(), 0);

    const DownloadSession& s = g_downloadSession;
    // A digest field that is not 32 hex digits refuses the whole list (see
    // hostile_update_list_is_refused_with_line_and_reason).
    ASSERT_EQ(s.fileCount.load(), 2);
    EXPECT_EQ(s.Plan()->entries[0].path, folder.Folder() + "a/b/deep.dat");
    EXPECT_EQ(s.Plan()->entries[0].needed, 0);
    EXPECT_EQ(s.Plan()->entries[1].needed, 1);
    EXPECT_EQ(s.Plan()->entries[1].size, 0u); // the size query failed: unknown
    EXPECT_EQ(s.totalBytes.load(), 12u);
    EXPECT_EQ(s.bytesDone.load(), 12u);
    EXPECT_EQ(s.bytesToFetch.load(), 0u);
    EXPECT_EQ(window.Text(IDC_VERSION), "版本信息:v2");
    // The missing file of unknown size is still missing: not ready.
    EXPECT_EQ(s.installerReady.load(), 0);
    EXPECT_EQ(window.Face(), StartFace::Start);
    EXPECT_EQ(g_downloadSession.InstallerPath(), folder.Folder() + "a/setup.exe");
}

TEST_F(CheckRun, more_than_a_thousand_file_lines_are_all_planned)
{
    std::vector<ServedFile> files;
    for (int i = 0; i < 1001; ++i)
        files.push_back({"f\\" + std::to_string(i), std::to_string(i)});
    Publish(files);

    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.fileCount.load(), 1001);
    EXPECT_EQ(g_downloadSession.Plan()->entries.back().path, folder.Folder() + "f/1000");
    EXPECT_EQ(g_downloadSession.Plan()->entries.back().size, 4u);
    std::uint64_t expected = 0;
    for (const ServedFile& file : files)
        expected += file.content.size();
    EXPECT_EQ(g_downloadSession.totalBytes.load(), expected);
    EXPECT_EQ(g_downloadSession.bytesToFetch.load(), expected);
}

TEST_F(CheckRun, second_run_holds_nothing_of_the_first)
{
    Publish({{"one.bin", std::string(6000, '1')}, {"two.bin", std::string(4000, '2')}});
    EXPECT_EQ(CheckThreadProc(), 0);
    ASSERT_EQ(g_downloadSession.fileCount.load(), 2);
    ASSERT_EQ(g_downloadSession.bytesToFetch.load(), 10000u);

    // The user picks another folder in which one file is already present.
    TempDir other;
    other.Write("one.bin", std::string(6000, '1'));
    drives.free[other.Folder()] = std::uint64_t{1} << 40;
    g_downloadSession.SetDownloadFolder(other.Folder());
    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.fileCount.load(), 2);
    EXPECT_EQ(g_downloadSession.Plan()->entries.size(), 2u);
    EXPECT_EQ(g_downloadSession.Plan()->entries.front().path, other.Folder() + "one.bin");
    EXPECT_EQ(g_downloadSession.totalBytes.load(), 10000u);
    EXPECT_EQ(g_downloadSession.bytesDone.load(), 6000u);
    EXPECT_EQ(g_downloadSession.bytesToFetch.load(), 4000u);
}

TEST_F(CheckRun, removed_folder_ends_the_run_before_any_request)
{
    window.config.m_strUpdate = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/update.txt";
    store.values[RegKey] = folder.Folder() + "gone/";
    g_downloadSession.SetDownloadFolder(folder.Folder() + "gone/");
    g_downloadSession.checkFinished = 1; // left as it was

    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.DownloadFolder(), "");
    EXPECT_EQ(store.values[RegKey], "");
    EXPECT_EQ(window.Text(IDC_FOLDER), Prompt);
    EXPECT_EQ(window.Events(), (std::vector<std::string>{std::string("text 1005 ") + Prompt, "enable 1003 1",
                                                         "enable 1000 1"}));
    EXPECT_EQ(g_downloadSession.Plan(), nullptr);
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 1);
}

TEST_F(CheckRun, too_little_space_in_a_chosen_folder_asks_for_another)
{
    Publish({{"big.bin", std::string(8000, 'b')}});
    drives.free[folder.Folder()] = 8000; // equal is not enough
    store.values[RegKey] = folder.Folder();
    g_downloadSession.folderFromRegistry = 1;

    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.DownloadFolder(), "");
    EXPECT_EQ(store.values[RegKey], "");
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 0);
    EXPECT_EQ(g_downloadSession.folderFromRegistry.load(), 0);
    EXPECT_EQ(g_downloadSession.totalBytes.load(), 0u);
    EXPECT_EQ(g_downloadSession.bytesToFetch.load(), 0u);
    EXPECT_EQ(g_downloadSession.fileCount.load(), 1); // kept until the next run
    const auto messages = window.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, NoSpaceText);
    EXPECT_EQ(messages[0].owner, MessageOwner::MainWindow);
    EXPECT_TRUE(window.Enabled(IDC_START));
    EXPECT_EQ(window.Face(), StartFace::Start);
    EXPECT_TRUE(window.Enabled(IDC_BROWSE));
    EXPECT_TRUE(window.Visible(IDC_BROWSE));
    EXPECT_EQ(window.Text(IDC_FOLDER), Prompt);
    EXPECT_FALSE(fs::exists(folder.Path() / "update.txt"));
    const auto events = window.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "start"), 0);
}

TEST_F(CheckRun, too_little_space_in_a_defaulted_folder_moves_to_the_next_fixed_drive_with_room)
{
    Publish({{"big.bin", std::string(8000, 'b')}});
    TempDir removable, fullFixed, roomyFixed;
    drives.roots = {{folder.Folder(), DriveType::Fixed},
                    {removable.Folder(), DriveType::Removable},
                    {fullFixed.Folder(), DriveType::Fixed},
                    {roomyFixed.Folder(), DriveType::Fixed}};
    drives.free = {{folder.Folder(), 100},
                   {removable.Folder(), 1 << 20},
                   {fullFixed.Folder(), 8000},
                   {roomyFixed.Folder(), 8001}};
    const std::string defaulted = folder.Folder() + "Game/";
    fs::create_directories(defaulted);
    g_downloadSession.SetDownloadFolder(defaulted);
    g_downloadSession.folderDefaulted = 1;

    EXPECT_EQ(CheckThreadProc(), 0);

    const std::string expected = roomyFixed.Folder() + "Game/";
    EXPECT_EQ(g_downloadSession.DownloadFolder(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(g_downloadSession.folderDefaulted.load(), 0);
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 1);
    EXPECT_EQ(g_downloadSession.bytesToFetch.load(), 8000u);
    EXPECT_EQ(g_downloadSession.Plan()->entries.front().path, expected + "big.bin");
    EXPECT_EQ(window.Text(IDC_FOLDER), " " + expected);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(store.values[RegKey], "");
}

TEST_F(CheckRun, too_little_space_on_every_fixed_drive_ends_with_the_message)
{
    Publish({{"big.bin", std::string(8000, 'b')}});
    drives.free = {{folder.Folder(), 10}};
    g_downloadSession.SetDownloadFolder(folder.Folder());
    g_downloadSession.folderDefaulted = 1;

    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.DownloadFolder(), "");
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, NoSpaceText);
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 0);
}

TEST_F(CheckRun, no_folder_fetches_the_lists_into_the_working_directory_and_needs_every_file)
{
    Publish({{"a.bin", std::string(500, 'a')}, {"sub\\b.bin", "b"}});
    TempDir work;
    work.Write("a.bin", std::string(500, 'a')); // not looked at without a folder
    const fs::path previous = fs::current_path();
    fs::current_path(work.Path());
    g_downloadSession.SetDownloadFolder("");
    drives.free.clear(); // the space test must not be made

    const int result = CheckThreadProc();
    fs::current_path(previous);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_downloadSession.fileCount.load(), 2);
    for (const PlanEntry& entry : g_downloadSession.Plan()->entries)
        EXPECT_EQ(entry.needed, 1);
    EXPECT_EQ(g_downloadSession.Plan()->entries.at(1).path, "sub/b.bin");
    EXPECT_EQ(g_downloadSession.bytesToFetch.load(), 501u);
    EXPECT_EQ(g_downloadSession.checkFinished.load(), 1);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_FALSE(fs::exists(work.Path() / "update.txt"));
    EXPECT_FALSE(fs::exists(work.Path() / "setup.txt"));
    EXPECT_FALSE(fs::exists(work.Path() / "sub"));
    EXPECT_EQ(g_downloadSession.InstallerPath(), "setup.exe");
}

TEST_F(CheckRun, free_space_that_cannot_be_read_does_not_stop_the_run)
{
    Publish({{"a.bin", std::string(500, 'a')}});
    drives.free.clear();

    EXPECT_EQ(CheckThreadProc(), 0);

    EXPECT_EQ(g_downloadSession.checkFinished.load(), 1);
    EXPECT_EQ(g_downloadSession.DownloadFolder(), folder.Folder());
    EXPECT_TRUE(window.Messages().empty());
}

// The runs below end the process, so each runs in a child.

TEST_F(CheckRun, unreachable_list_hides_the_window_reports_c_and_ends)
{
    const std::string dead = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/update.txt";
    LocalConfig config = window.config;
    config.m_strUpdate = dead;
    EXPECT_EXIT(CheckInPrintingWindow(config), ::testing::ExitedWithCode(0),
                "HIDE\nMESSAGE none 读取配置文件失败");

    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    const auto fields = Fields(reports[0]);
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0], ".//sysinfo.ini");
    EXPECT_EQ(fields[1], ""); // no list read yet
    ASSERT_FALSE(fields[2].empty());
    EXPECT_EQ(fields[2].back(), 'C');
    EXPECT_EQ(fields[3] + fields[4] + fields[5], "5100");
    EXPECT_FALSE(fs::exists(folder.Path() / "update.txt"));
}

TEST_F(CheckRun, maintenance_status_ends_with_its_message_and_writes_no_list)
{
    server.Put("lists/update.txt", "0\nv9\n" + FileBase() + "\n");
    server.Put("lists/setup.txt", "setup.exe\n");
    LocalConfig config = window.config;
    EXPECT_EXIT(CheckInPrintingWindow(config), ::testing::ExitedWithCode(0),
                "HIDE\nMESSAGE none 服务器维护，暂时无可用更新!\n请稍后重新下载!");

    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(Fields(reports[0]).at(2).back(), 'C');
    EXPECT_FALSE(fs::exists(folder.Path() / "update.txt"));
    EXPECT_FALSE(fs::exists(folder.Path() / "setup.txt"));
}

// A name that escapes the folder refuses the whole list: the message names the
// line, and nothing of the list is made on disk, not even the folders of the
// lines before it.
TEST_F(CheckRun, list_naming_a_file_outside_the_folder_is_refused_with_nothing_written)
{
    struct Case {
        const char* name;
        std::string update;
        std::string setup;
        std::string shown;
    };
    const std::string head = "1\nv1\n" + FileBase() + "\n";
    const std::string ok = "sub\\ok.bin," + Md5Of("ok") + "\n";
    const Case cases[] = {
        {"parent", head + ok + "..\\..\\evil.sh," + Md5Of("x") + "\n", "setup.exe", "update.txt 第5行"},
        {"absolute", head + ok + "/tmp/evil.sh," + Md5Of("x") + "\n", "setup.exe", "update.txt 第5行"},
        {"drive", head + "C:\\evil.sh," + Md5Of("x") + "\n" + ok, "setup.exe", "update.txt 第4行"},
        {"installer", head + ok, "..\\run.sh", "setup.txt 第1行"},
    };
    for (const Case& c : cases) {
        server.Put("lists/update.txt", c.update);
        server.Put("lists/setup.txt", c.setup);
        LocalConfig config = window.config;
        EXPECT_EXIT(CheckInPrintingWindow(config), ::testing::ExitedWithCode(0),
                    "HIDE\nMESSAGE none 读取配置文件失败!\n" + c.shown)
            << c.name;
        EXPECT_TRUE(fs::is_empty(folder.Path())) << c.name;
    }
    EXPECT_FALSE(fs::exists(folder.Path().parent_path() / "evil.sh"));
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 4u);
    for (const std::string& report : reports)
        EXPECT_EQ(Fields(report).at(2).back(), 'C');
}

namespace {

// Releases signed with the stock minisign tool, checked with the key in the
// configuration.
class SignedCheckRun : public CheckRun {
protected:
    void SetUp() override
    {
        CheckRun::SetUp();
        if (!HaveMinisign())
            GTEST_SKIP() << kMinisignMissing;
        trusted = MakeStockKeyPair(keys, "trusted");
        other = MakeStockKeyPair(keys, "other");
        ASSERT_FALSE(trusted.publicKeyLine.empty());
        ASSERT_FALSE(other.publicKeyLine.empty());
        window.config.m_strPubkey = trusted.publicKeyLine;
        trustedKeyId = KeyIdText(ParsePublicKey(trusted.publicKeyLine)->keyId);
    }

public:
    // For the rows of the tables below.
    using CheckRun::sequences;
    using CheckRun::server;
    using CheckRun::window;

    std::string Served(const std::string& relative) const { return (server.DocumentRoot() / relative).string(); }

    // Signs a served list: LIST.minisig beside it.
    void Sign(const std::string& list, const StockKeyPair& key, const std::string& trustedComment) const
    {
        ASSERT_NE(StockSign(key, Served("lists/" + list), trustedComment), "");
    }
    void SignBoth(const StockKeyPair& key, const std::string& trustedComment) const
    {
        Sign("update.txt", key, trustedComment);
        Sign("setup.txt", key, trustedComment);
    }

    // A release of two files, the installer among them, both lists signed
    // with seq:N.
    void PublishSigned(std::uint64_t sequence)
    {
        Publish({{"setup.exe", "installer"}, {"data\\a.pak", std::string(3000, 'a')}});
        SignBoth(trusted, "timestamp:1765000000 seq:" + std::to_string(sequence));
    }

    std::string PublishedDigest() const
    {
        return SignedListsDigest(ReadFileText(Served("lists/update.txt")), ReadFileText(Served("lists/setup.txt")));
    }

    TempDir keys;
    StockKeyPair trusted;
    StockKeyPair other;
    std::string trustedKeyId;
};

// Replaces the idx-th byte of a served file with another one.
void FlipByte(const std::string& path, std::size_t idx)
{
    std::string text = ReadFileText(path);
    ASSERT_LT(idx, text.size());
    // Stays a base64 digit in a signature line, and stays printable in a list.
    text[idx] = text[idx] == 'A' ? 'B' : 'A';
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The offset of the byte at column in the line-th line (0-based) of text.
std::size_t OffsetIn(const std::string& text, int line, std::size_t column)
{
    std::size_t at = 0;
    for (int i = 0; i < line; ++i)
        at = text.find('\n', at) + 1;
    return at + column;
}

} // namespace

TEST_F(SignedCheckRun, signed_release_is_read_recorded_and_taken_again_and_when_newer)
{
    PublishSigned(10);

    CheckResult result = RunCheck();

    EXPECT_EQ(result.outcome, CheckOutcome::Ready);
    ASSERT_NE(g_downloadSession.Plan(), nullptr);
    EXPECT_EQ(g_downloadSession.fileCount.load(), 2);
    ASSERT_EQ(sequences.releases.count(trustedKeyId), 1u);
    EXPECT_EQ(sequences.releases[trustedKeyId], (AcceptedRelease{10, PublishedDigest()}));
    const auto requested = server.RequestedPaths();
    EXPECT_EQ(std::count(requested.begin(), requested.end(), "/lists/update.txt.minisig"), 1);
    EXPECT_EQ(std::count(requested.begin(), requested.end(), "/lists/setup.txt.minisig"), 1);

    // The same release fetched again is no replay to refuse.
    EXPECT_EQ(RunCheck().outcome, CheckOutcome::Ready);

    PublishSigned(11);
    EXPECT_EQ(RunCheck().outcome, CheckOutcome::Ready);
    EXPECT_EQ(sequences.releases[trustedKeyId], (AcceptedRelease{11, PublishedDigest()}));
}

// Each way a signed release can fail to hold refuses the lists before a line
// of them is read: no file is asked for, nothing is made in the folder, the
// record of accepted releases is left as it was.
TEST_F(SignedCheckRun, lists_whose_signatures_do_not_hold_are_refused_with_nothing_fetched_or_written)
{
    const AcceptedRelease earlier{9, std::string(64, '0')};
    struct Case {
        const char* name;
        std::function<void(SignedCheckRun&)> tamper;
        SignatureRefusal expected;
        std::optional<AcceptedRelease> recorded = std::nullopt; // before the run
    };
    const Case cases[] = {
        {"flipped_byte_in_a_list",
         [](SignedCheckRun& t) { FlipByte(t.Served("lists/update.txt"), 4); },
         SignatureRefusal::NotMatching},
        {"flipped_byte_in_a_signature",
         [](SignedCheckRun& t) {
             const std::string path = t.Served("lists/setup.txt.minisig");
             FlipByte(path, OffsetIn(ReadFileText(path), 1, 60));
         },
         SignatureRefusal::NotMatching},
        {"raised_seq_in_the_trusted_comment",
         [](SignedCheckRun& t) {
             const std::string path = t.Served("lists/update.txt.minisig");
             std::string text = ReadFileText(path);
             const auto at = text.find("seq:10");
             ASSERT_NE(at, std::string::npos);
             text.replace(at, 6, "seq:99");
             std::ofstream(path, std::ios::trunc) << text;
         },
         SignatureRefusal::NotMatching},
        {"signed_with_another_key",
         [](SignedCheckRun& t) { t.SignBoth(t.other, "seq:10"); },
         SignatureRefusal::OtherKey},
        {"signature_not_on_the_server",
         [](SignedCheckRun& t) { fs::remove(t.Served("lists/update.txt.minisig")); },
         SignatureRefusal::Missing},
        {"oversized_signature",
         [](SignedCheckRun& t) {
             t.server.Put("lists/setup.txt.minisig", ReadFileText(t.Served("lists/setup.txt.minisig")) +
                                                         std::string(kMinisigMaxBytes, '\n'));
         },
         SignatureRefusal::TooLarge},
        {"signature_that_is_no_minisig",
         [](SignedCheckRun& t) { t.server.Put("lists/update.txt.minisig", "not a signature\n"); },
         SignatureRefusal::Malformed},
        {"trusted_comment_without_seq",
         [](SignedCheckRun& t) { t.SignBoth(t.trusted, "timestamp:1765000000"); },
         SignatureRefusal::NoSequence},
        {"update_and_setup_with_different_seq",
         [](SignedCheckRun& t) { t.Sign("setup.txt", t.trusted, "seq:11"); },
         SignatureRefusal::SequenceMismatch},
        {"lower_seq_than_accepted_before", [](SignedCheckRun&) {}, SignatureRefusal::Rollback,
         AcceptedRelease{11, std::string(64, '0')}},
        {"same_seq_as_accepted_before_with_other_lists", [](SignedCheckRun&) {},
         SignatureRefusal::SameSequenceOtherLists, AcceptedRelease{10, std::string(64, '0')}},
        {"record_of_accepted_releases_damaged", [](SignedCheckRun& t) { t.sequences.damaged = true; },
         SignatureRefusal::StoreDamaged, earlier},
        {"public_key_in_the_configuration_that_is_no_key",
         [](SignedCheckRun& t) { t.window.config.m_strPubkey = "RWnot a key"; },
         SignatureRefusal::BadPublicKey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublishSigned(10);
        window.config.m_strPubkey = trusted.publicKeyLine;
        sequences.damaged = false;
        sequences.releases.clear();
        if (c.recorded)
            sequences.releases[trustedKeyId] = *c.recorded;
        const auto recordedBefore = sequences.releases;
        c.tamper(*this);
        const std::size_t requestsBefore = server.RequestedPaths().size();

        const CheckResult result = RunCheck();

        EXPECT_EQ(result.outcome, CheckOutcome::SignatureRefused);
        EXPECT_EQ(result.signature, c.expected);
        EXPECT_EQ(g_downloadSession.Plan(), nullptr);
        EXPECT_EQ(g_downloadSession.InstallerListedDigest(), std::nullopt);
        EXPECT_TRUE(fs::is_empty(folder.Path()));
        EXPECT_EQ(sequences.releases, recordedBefore);
        const auto requested = server.RequestedPaths();
        for (std::size_t i = requestsBefore; i < requested.size(); ++i) {
            EXPECT_THAT(requested[i], ::testing::AnyOf("/lists/update.txt", "/lists/setup.txt",
                                                       "/lists/update.txt.minisig", "/lists/setup.txt.minisig"));
        }
        if (c.expected == SignatureRefusal::BadPublicKey) {
            EXPECT_EQ(requested.size(), requestsBefore) << "a key that is no key fetches nothing";
        }
    }
}

// The window shows why, and the run ends as with any list it cannot use.
TEST_F(SignedCheckRun, refused_signature_hides_the_window_and_says_why)
{
    PublishSigned(10);
    FlipByte(Served("lists/update.txt"), 4);
    LocalConfig config = window.config;
    EXPECT_EXIT(CheckInPrintingWindow(config), ::testing::ExitedWithCode(0),
                "HIDE\nMESSAGE none 读取配置文件失败!\n更新列表的签名无效");
    EXPECT_EQ(Fields(Reports().at(0)).at(2).back(), 'C');
}

// The launch compares the installer it starts with the digest listed for
// it; an installer that is no listed file has none.
TEST_F(CheckRun, installer_listed_digest_is_kept_for_the_launch)
{
    Publish({{"setup.exe", "installer"}, {"a.bin", "a"}});
    EXPECT_EQ(RunCheck().outcome, CheckOutcome::Ready);
    const auto listed = g_downloadSession.InstallerListedDigest();
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(std::string(listed->data(), listed->size()), Md5Of("installer"));

    Publish({{"a.bin", "a"}}, "tools\\install.sh");
    EXPECT_EQ(RunCheck().outcome, CheckOutcome::Ready);
    EXPECT_EQ(g_downloadSession.InstallerListedDigest(), std::nullopt);
}

namespace {

struct RefusalCase {
    const char* label;
    std::string fileLines; // after the head
    int line;
    ListFault fault;
    NameFault nameFault;
};

} // namespace

// A hostile update list is refused as a whole, naming line and reason as
// values; nothing is made on disk.
TEST_F(CheckRun, hostile_update_list_is_refused_with_line_and_reason)
{
    using namespace std::string_literals;
    const std::string md5 = Md5Of("x");
    const std::string head = "1\nv1\n" + FileBase() + "\n";
    // Lines of 4000 bytes without a comma until the list is past its limit.
    const std::string filler = std::string(4000, 'a') + "\n";
    std::string huge;
    while (head.size() + huge.size() <= MaxListBytes)
        huge += filler;
    const int hugeLine = 4 + static_cast<int>((MaxListBytes - head.size()) / filler.size());
    const RefusalCase cases[] = {
        {"list too long", huge, hugeLine, ListFault::ListTooLong, NameFault::None},
        {"line too long", std::string(5000, 'b') + "," + md5 + "\n", 4, ListFault::LineTooLong, NameFault::None},
        {"NUL in a name", "a\0b.bin,"s + md5 + "\n", 4, ListFault::UnsafeName, NameFault::ControlCharacter},
        {"escape in a name", "ok.bin," + md5 + "\na\x1b[2Jb.bin," + md5 + "\n", 5, ListFault::UnsafeName,
         NameFault::ControlCharacter},
        {"empty level", "a\\\\b.bin," + md5 + "\n", 4, ListFault::UnsafeName, NameFault::EmptyComponent},
        {"dot level", "a\\.\\b.bin," + md5 + "\n", 4, ListFault::UnsafeName, NameFault::DotComponent},
        {"parent level", "..\\b.bin," + md5 + "\n", 4, ListFault::UnsafeName, NameFault::ParentComponent},
        {"trailing separator", "sub\\," + md5 + "\n", 4, ListFault::UnsafeName, NameFault::EndsWithSeparator},
        {"short digest", "x.bin,0123abc\n", 4, ListFault::BadDigest, NameFault::None},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.label);
        server.Put("lists/update.txt", head + c.fileLines);
        server.Put("lists/setup.txt", "setup.exe\n");
        const CheckResult result = RunCheck();
        EXPECT_EQ(result.outcome, CheckOutcome::ListRefused);
        EXPECT_EQ(result.refusal.list, "update.txt");
        EXPECT_EQ(result.refusal.line, c.line);
        EXPECT_EQ(result.refusal.fault, c.fault);
        EXPECT_EQ(result.refusal.nameFault, c.nameFault);
        EXPECT_TRUE(fs::is_empty(folder.Path()));
    }
}

// Lists are read from memory: a link planted at update.txt in the folder is
// neither followed nor replaced, and what it points to stays as it was.
TEST_F(CheckRun, link_planted_at_the_list_name_is_left_alone)
{
    TempDir outside;
    const std::string secret = outside.Write("secret.txt", "outside the folder");
    fs::create_symlink(secret, folder.Path() / "update.txt");
    fs::create_symlink(secret, folder.Path() / "setup.txt");
    Publish({{"a.bin", "a"}});

    const CheckResult result = RunCheck();

    EXPECT_EQ(result.outcome, CheckOutcome::Ready);
    EXPECT_EQ(ReadFileText(secret), "outside the folder");
    EXPECT_TRUE(fs::is_symlink(folder.Path() / "update.txt"));
    EXPECT_TRUE(fs::is_symlink(folder.Path() / "setup.txt"));
}

// A list written with uppercase digits names the same bytes: present files
// are kept as they are.
TEST_F(CheckRun, uppercase_list_keeps_the_correct_files)
{
    const std::string content = "exact bytes";
    folder.Write("keep.bin", content);
    std::string upper = Md5Of(content);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    server.Put("game/keep.bin", content);
    server.Put("lists/update.txt", "1\nv1\n" + FileBase() + "\nkeep.bin," + upper + "\n");
    server.Put("lists/setup.txt", "keep.bin\n");

    const CheckResult result = RunCheck();

    EXPECT_EQ(result.outcome, CheckOutcome::NothingToFetch);
    EXPECT_EQ(ReadFileText(folder.Folder() + "keep.bin"), content);
}

// A folder that takes no file: the check says so, naming it.
TEST_F(CheckRun, folder_that_cannot_be_written_is_reported_with_its_path)
{
    Publish({{"sub\\a.bin", "a"}});
    ImmutableFolder frozen(folder.Path());
    ASSERT_TRUE(frozen.Ok());

    const CheckResult result = RunCheck();

    EXPECT_EQ(result.outcome, CheckOutcome::ListsNotWritten);
    EXPECT_EQ(result.unwritablePath, folder.Folder() + "sub/");
}

// A first check of large present files shows how far it is: the status line
// and the bar move while the files are digested, and the bar goes back to
// where the download stands when the check is over.
TEST_F(CheckRun, digesting_present_files_shows_its_progress)
{
    constexpr std::uint64_t kFileBytes = std::uint64_t{128} << 20;
    const std::string zeros = Md5Of(std::string(kFileBytes, '\0'));
    std::string update = "1\nv1\n" + FileBase() + "\n";
    for (int i = 0; i < 4; ++i) {
        const std::string name = "big" + std::to_string(i) + ".bin";
        fs::resize_file(folder.Write(name, ""), kFileBytes); // sparse: read as zeros
        update += name + "," + zeros + "\n";
    }
    update += "missing.bin," + Md5Of("m") + "\n";
    server.Put("game/missing.bin", "m");
    server.Put("lists/update.txt", update);
    server.Put("lists/setup.txt", "setup.exe");
    g_downloadSession.verifyDigests = 1; // nothing remembered: every file is read

    EXPECT_EQ(RunCheck().outcome, CheckOutcome::Ready);

    std::vector<int> percents;
    for (const std::string& event : window.Events()) {
        const std::string prefix = std::string("text 1010 ") + kCheckingProgressLabel;
        if (event.rfind(prefix, 0) == 0)
            percents.push_back(std::stoi(event.substr(prefix.size())));
    }
    ASSERT_FALSE(percents.empty()) << "no progress was shown";
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    const auto moved = bar.Accepted();
    EXPECT_TRUE(std::any_of(moved.begin(), moved.end(), [](int p) { return p > 0 && p < 100; }));
    // The bar stands where the download does, hidden until it starts.
    const std::uint64_t total = g_downloadSession.totalBytes;
    ASSERT_GT(total, 0u);
    EXPECT_EQ(bar.Pos(), static_cast<int>(g_downloadSession.bytesDone * 100 / total));
    EXPECT_FALSE(window.Visible(IDC_PROGRESS));
}
