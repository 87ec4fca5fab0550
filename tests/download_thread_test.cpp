#include "run/DownloadThread.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "run/Commands.h"
#include "run/DownloadSession.h"
#include "run/RunObserver.h"
#include "run/RunReport.h"
#include "planning/DigestQueue.h"
#include "planning/Md5.h"
#include "platform/FolderStore.h"
#include "platform/WorkerThread.h"
#include "support/DownloadRunFixture.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDownloadAgain = "下载失败!\n请重新下载!";

class DownloadRun : public DownloadRunFixture {
protected:
    // One plan entry for a file of the folder, as a check run would make it.
    void PlanFile(const std::string& relative, const std::string& md5, std::uint64_t size, int localDiffers = 0)
    {
        PlanEntry entry;
        entry.path = folder.Folder() + relative;
        std::copy_n(md5.begin(), std::min<std::size_t>(md5.size(), 32), entry.md5.begin());
        entry.size = size;
        entry.localDiffers = localDiffers;
        entry.needed = 1;
        m_plan.entries.push_back(entry);
        m_plan.totalBytes += size;
        m_plan.bytesToFetch += size;
        g_downloadSession.SetPlan(std::make_shared<PlannedFiles>(m_plan));
    }

    void SetBaseUrl(const std::string& url)
    {
        g_downloadSession.SetFileBaseUrl(url);
    }

    // Files come from server: the first answer has the byte at `at` of good
    // flipped, every later one is good.
    void ServeCorruptedOnce(FaultServer& server, const std::string& good, std::size_t at)
    {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x55);
        server.SetBody(good);
        FaultReply corrupt;
        corrupt.body = bad;
        server.SetScript({corrupt, FaultReply{}});
        SetBaseUrl(server.BaseUrl());
    }

    PlannedFiles m_plan;
};

// Whether a thread of this process hashes downloaded blocks now.
bool DigestThreadRuns()
{
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::string name = ReadFileText((task.path() / "comm").string());
        if (name.rfind(DigestQueueThreadName, 0) == 0)
            return true;
    }
    return false;
}

TEST_F(DownloadRun, corrupted_body_is_caught_by_the_digest_deleted_and_fetched_again_from_its_start)
{
    const std::string good = RandomBytes(1200000, 1);
    FaultServer server;
    // The size is known from the check, so no probe: the answer with one
    // flipped byte, then correct answers.
    ServeCorruptedOnce(server, good, 700000);
    PlanFile("data/file.bin", Md5Of(good), good.size());
    fs::create_directories(folder.Path() / "data");
    const std::string path = folder.Folder() + "data/file.bin";

    StartDownload();
    ASSERT_TRUE(WaitParked());
    EXPECT_TRUE(window.WaitForMessage(kDownloadAgain, std::chrono::seconds(1)));
    EXPECT_FALSE(Exists(path)) << "wrong bytes must never become the file";
    EXPECT_FALSE(Exists(path + ".tmp"));
    EXPECT_FALSE(Exists(path + ".des"));
    EXPECT_EQ(window.Face(), StartFace::Continue);
    EXPECT_EQ(window.Text(IDC_STATUS), "下载暂停");
    EXPECT_EQ(g_downloadSession.bytesDone.load(), 0u) << "the dropped bytes are no longer counted";
    EXPECT_EQ(Marks(), "SE");

    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(path), good);
    EXPECT_FALSE(Exists(path + ".tmp"));
    EXPECT_FALSE(Exists(path + ".des"));
    EXPECT_EQ(Marks(), "SERD");
    EXPECT_EQ(g_downloadSession.installerReady.load(), 1);
    EXPECT_EQ(window.Face(), StartFace::Install);
    EXPECT_EQ(window.Text(IDC_STATUS), "下载完成!");
    EXPECT_EQ(g_downloadSession.Plan(), nullptr);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "") << "fetched again from its start";
}

TEST_F(DownloadRun, uppercase_listed_digest_names_the_same_bytes_and_completes)
{
    const std::string content = RandomBytes(300000, 2);
    NginxServer server;
    server.Put("game/upper.bin", content);
    SetBaseUrl(server.BaseUrl() + "game/");
    std::string upper = Md5Of(content);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    PlanFile("upper.bin", upper, content.size());

    StartDownload();
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(folder.Folder() + "upper.bin"), content);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(Marks(), "SD");
}

// Something planted at one of a listed file's names, or on the way to it:
// the run never opens, follows or removes it. It names the path, fetches
// nothing and waits; once the thing is gone, continue completes the file.
TEST_F(DownloadRun, link_fifo_or_folder_at_a_listed_name_is_named_and_nothing_outside_is_touched)
{
    struct Case {
        const char* label;
        const char* listed;  // relative name in the plan
        const char* planted; // where the thing stands, relative to the folder
        enum { LinkToFile, LinkToFolder, Fifo, Folder } kind;
        const char* named; // the path the message names, relative to the folder
    };
    const Case cases[] = {
        {"link at the side file", "x.bin", "x.bin.des", Case::LinkToFile, "x.bin.des"},
        {"link at the partial file", "x.bin", "x.bin.tmp", Case::LinkToFile, "x.bin.tmp"},
        {"link at the file", "x.bin", "x.bin", Case::LinkToFile, "x.bin"},
        {"folder link on the way", "sub/x.bin", "sub", Case::LinkToFolder, "sub/x.bin"},
        {"fifo at the file", "x.bin", "x.bin", Case::Fifo, "x.bin"},
        {"folder at the file", "x.bin", "x.bin", Case::Folder, "x.bin"},
        {"folder at the side file", "x.bin", "x.bin.des", Case::Folder, "x.bin.des"},
    };
    const std::string content = RandomBytes(40000, 11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TearDown();
        SetUp();
        m_plan = PlannedFiles{};
        for (const auto& entry : fs::directory_iterator(folder.Path()))
            fs::remove_all(entry.path());
        TempDir outside;
        const std::string secret = outside.Write("secret.txt", "outside the folder");
        FaultServer server;
        server.SetBody(content);
        SetBaseUrl(server.BaseUrl());
        PlanFile(c.listed, Md5Of(content), content.size(), 1);
        const std::string planted = folder.Folder() + c.planted;
        switch (c.kind) {
        case Case::LinkToFile: fs::create_symlink(secret, planted); break;
        case Case::LinkToFolder: fs::create_directory_symlink(outside.Path(), planted); break;
        case Case::Fifo: ASSERT_EQ(::mkfifo(planted.c_str(), 0644), 0); break;
        case Case::Folder: fs::create_directories(planted + "/inner"); break;
        }

        const std::size_t shown = window.Messages().size();
        StartDownload();
        ASSERT_TRUE(WaitParked());
        ASSERT_EQ(window.Messages().size(), shown + 1);
        EXPECT_EQ(window.Messages().back().text, folder.Folder() + c.named +
                                                 "不是普通文件(可能是链接、管道、设备或文件夹)!\n请移走它后继续下载!");
        EXPECT_EQ(g_downloadSession.LastFailure().result, FileResult::NotAFile);
        EXPECT_TRUE(server.Requests().empty()) << "nothing is fetched";
        EXPECT_EQ(ReadFileText(secret), "outside the folder");
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(outside.Path()))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"secret.txt"}) << "nothing made outside";
        EXPECT_EQ(Marks(), "S") << "something in the way is no transfer failure";

        fs::remove_all(planted);
        OnStartButton();
        ASSERT_TRUE(WaitFinished());
        EXPECT_EQ(ReadFileText(folder.Folder() + c.listed), content);
        EXPECT_EQ(ReadFileText(secret), "outside the folder");
    }
}

TEST_F(DownloadRun, side_file_that_cannot_be_written_stops_before_any_partial_file_and_is_retried)
{
    const std::string content = RandomBytes(50000, 6);
    FaultServer server;
    server.SetBody(content);
    SetBaseUrl(server.BaseUrl());
    PlanFile("side.bin", Md5Of(content), content.size());
    const std::string path = folder.Folder() + "side.bin";
    {
        // A folder that takes no new file, even from root.
        ImmutableFolder frozen(folder.Path());
        ASSERT_TRUE(frozen.Ok());
        StartDownload();
        ASSERT_TRUE(WaitParked());
    }
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, "磁盘空间不足!\n请释放空间!");
    EXPECT_FALSE(Exists(path + ".tmp")) << "no partial file without the version it belongs to";
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(Marks(), "SE");

    OnStartButton();
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(path), content);
    EXPECT_EQ(Marks(), "SERD");
}

TEST_F(DownloadRun, pause_asked_while_no_transfer_runs_holds_before_the_next_file)
{
    const std::string content = RandomBytes(60000, 7);
    FaultServer server;
    server.SetBody(content);
    SetBaseUrl(server.BaseUrl());
    PlanFile("first.bin", Md5Of(content), content.size());
    PlanFile("second.bin", Md5Of(content), content.size());
    folder.Write("first.bin/inner", "in the way");

    StartDownload();
    ASSERT_TRUE(WaitParked()); // a folder holds the first file's name
    fs::remove_all(folder.Folder() + "first.bin");
    // The user continues and at once pauses again: the pause arrives while
    // the run is preparing the first file, before its transfer begins.
    OnStartButton();
    OnStartButton();
    EXPECT_TRUE(g_downloadSession.pause.Requested());

    // The run has taken the continue (the face shows it) and parks again.
    ASSERT_TRUE(Within([&] { return window.Face() == StartFace::Continue; }));
    ASSERT_TRUE(WaitParked());
    EXPECT_FALSE(Exists(folder.Folder() + "first.bin"));
    EXPECT_FALSE(Exists(folder.Folder() + "second.bin")) << "the files wait for the user";

    OnStartButton();
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(folder.Folder() + "first.bin"), content);
    EXPECT_EQ(ReadFileText(folder.Folder() + "second.bin"), content);
    EXPECT_EQ(Marks(), "SRPRD");
}

TEST_F(DownloadRun, nothing_needed_goes_straight_to_the_install_face)
{
    PlanEntry present;
    present.path = folder.Folder() + "present.bin";
    present.needed = 0;
    m_plan.entries.push_back(present);
    g_downloadSession.SetPlan(std::make_shared<PlannedFiles>(m_plan));

    StartDownload();
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(g_downloadSession.installerReady.load(), 1);
    EXPECT_EQ(window.Face(), StartFace::Install);
    EXPECT_EQ(window.Text(IDC_STATUS), "下载完成!");
    EXPECT_FALSE(window.Visible(IDC_BROWSE));
    EXPECT_EQ(g_downloadSession.Plan(), nullptr);
    EXPECT_EQ(g_downloadSession.fileCount.load(), 1);
    EXPECT_EQ(Marks(), "SD");
    EXPECT_EQ(store.Read("folder"), folder.Folder()) << "the start command remembers the folder";
}

// The whole window-side path: a chosen folder is checked, the download is
// started, paused in the middle of a file and continued.
TEST_F(DownloadRun, chosen_folder_is_checked_started_paused_mid_file_and_continued_to_an_exact_file)
{
    const std::string content = RandomBytes(3 * 1024 * 1024, 5);
    NginxServer::Options slow;
    slow.extraServerConfig = "location /game/ { limit_rate 1m; }";
    NginxServer server(slow);
    server.Put("game/data/big.bin", content);
    server.Put("lists/update.txt", "1\nv1\n" + server.BaseUrl() + "game/\ndata\\big.bin," + Md5Of(content) + "\n");
    server.Put("lists/setup.txt", "setup.exe\n");
    window.config.m_strUpdate = server.BaseUrl() + "lists/update.txt";
    window.config.m_strSetup = server.BaseUrl() + "lists/setup.txt";
    g_downloadSession.SetDownloadFolder("");
    const std::string path = folder.Folder() + "data/big.bin";

    window.SetChosenFolder(folder.Path().string());
    OnBrowseButton();
    EXPECT_EQ(g_downloadSession.DownloadFolder(), folder.Folder());
    EXPECT_EQ(window.Text(IDC_FOLDER), " " + folder.Folder());
    ASSERT_NE(g_downloadSession.CheckThread(), nullptr) << "a chosen folder's check run is kept";
    ASSERT_TRUE(Within([] { return g_downloadSession.checkFinished == 1; }));

    OnStartButton();
    ASSERT_TRUE(Within([&] { return g_downloadSession.bytesDone > 0; }));
    EXPECT_TRUE(DigestThreadRuns()) << "the file is hashed beside its transfer";
    OnStartButton(); // pause
    ASSERT_TRUE(WaitParked());
    EXPECT_TRUE(window.Messages().empty()) << "a pause shows no message";
    EXPECT_EQ(window.Face(), StartFace::Continue);
    const auto partial = fs::file_size(path + ".tmp");
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, content.size());
    EXPECT_EQ(ReadFileText(path + ".des"), Md5Of(content));
    // (The task of a joined thread may linger in /proc for a moment.)
    EXPECT_TRUE(Within([] { return !DigestThreadRuns(); })) << "a parked run keeps no hashing thread";

    OnStartButton(); // continue
    EXPECT_EQ(window.Face(), StartFace::Pause);
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(path), content);
    EXPECT_EQ(Marks(), "SPRD");
}

// Writes down what the download run tells an observer, in order.
class RecordingObserver final : public IRunObserver {
public:
    void OnFileStarted(int entry, const std::string& path, std::uint64_t size) override
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back("start " + std::to_string(entry) + " " + path + " " + std::to_string(size));
    }
    void OnFileEnded(const FileOutcome& outcome) override
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back("end " + std::to_string(outcome.entry) + " " + outcome.path + " " +
                           std::to_string(static_cast<int>(outcome.result)));
    }
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

TEST_F(DownloadRun, observer_hears_each_transfer_start_and_how_it_ended)
{
    const std::string good = RandomBytes(300000, 31);
    FaultServer server;
    ServeCorruptedOnce(server, good, 1000);
    PlanFile("file.bin", Md5Of(good), good.size());
    RecordingObserver observer;
    g_downloadSession.runObserver = &observer;
    const std::string path = folder.Folder() + "file.bin";
    const std::string started = "start 0 " + path + " " + std::to_string(good.size());

    StartDownload();
    ASSERT_TRUE(WaitParked());
    EXPECT_EQ(observer.Events(), (std::vector<std::string>{started, "end 0 " + path + " 5"}))
        << "wrong bytes end as WrongDigest before the run pauses";
    OnStartButton(); // continue
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(observer.Events(),
              (std::vector<std::string>{started, "end 0 " + path + " 5", started, "end 0 " + path + " 0"}));
}

} // namespace
