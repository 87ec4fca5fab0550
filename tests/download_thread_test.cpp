#include "run/DownloadThread.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "run/Commands.h"
#include "run/DownloadSession.h"
#include "run/RunReport.h"
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

    PlannedFiles m_plan;
};

TEST_F(DownloadRun, corrupted_body_is_caught_by_the_digest_deleted_and_fetched_again_from_its_start)
{
    const std::string good = RandomBytes(1200000, 1);
    std::string bad = good;
    bad[700000] = static_cast<char>(bad[700000] ^ 0x55);
    FaultServer server;
    server.SetBody(good);
    FaultReply corrupt;
    corrupt.body = bad;
    // The size is known from the check, so no probe: the answer with one
    // flipped byte, then correct answers.
    server.SetScript({corrupt, FaultReply{}});
    SetBaseUrl(server.BaseUrl());
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

TEST_F(DownloadRun, locked_final_name_keeps_the_complete_partial_names_the_file_and_retries_the_rename)
{
    const std::string content = RandomBytes(200000, 3);
    const std::string md5 = Md5Of(content);
    NginxServer server;
    server.Put("game/locked.bin", content);
    SetBaseUrl(server.BaseUrl() + "game/");
    PlanFile("locked.bin", md5, content.size());
    const std::string path = folder.Folder() + "locked.bin";
    // A non-empty folder in the way: the rename cannot replace it.
    folder.Write("locked.bin/keep", "x");

    StartDownload();
    ASSERT_TRUE(WaitParked());
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, "请关闭正在使用" + path + "文件的程序后重试!");
    EXPECT_EQ(ReadFileText(path + ".tmp"), content) << "the complete partial file is kept";
    EXPECT_EQ(ReadFileText(path + ".des"), md5) << "side file: the 32 digest characters alone";
    EXPECT_EQ(Marks(), "S") << "a file in the way is no transfer failure";

    fs::remove_all(path);
    OnStartButton();
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(path), content);
    EXPECT_FALSE(Exists(path + ".tmp"));
    EXPECT_FALSE(Exists(path + ".des"));
    EXPECT_EQ(Marks(), "SRD");
}

TEST_F(DownloadRun, damaged_file_that_cannot_be_deleted_is_named_and_deleted_on_continue)
{
    const std::string content = RandomBytes(100000, 4);
    FaultServer server;
    server.SetBody(content);
    SetBaseUrl(server.BaseUrl());
    PlanFile("damaged.bin", Md5Of(content), content.size(), 1);
    const std::string path = folder.Folder() + "damaged.bin";
    folder.Write("damaged.bin/inner", "in the way");

    StartDownload();
    ASSERT_TRUE(WaitParked());
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, "请关闭正在使用" + path + "文件的程序后重试!");
    EXPECT_TRUE(server.Requests().empty()) << "nothing is fetched before the damaged file is gone";

    fs::remove_all(path);
    folder.Write("damaged.bin", "old damaged bytes");
    OnStartButton();
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(path), content);
}

TEST_F(DownloadRun, side_file_that_cannot_be_written_stops_before_any_partial_file_and_is_retried)
{
    const std::string content = RandomBytes(50000, 6);
    FaultServer server;
    server.SetBody(content);
    SetBaseUrl(server.BaseUrl());
    PlanFile("side.bin", Md5Of(content), content.size());
    const std::string path = folder.Folder() + "side.bin";
    folder.Write("side.bin.des/inner", "in the way");

    StartDownload();
    ASSERT_TRUE(WaitParked());
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, "磁盘空间不足!\n请释放空间!");
    EXPECT_FALSE(Exists(path + ".tmp")) << "no partial file without the version it belongs to";
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(Marks(), "SE");

    fs::remove_all(path + ".des");
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
    ASSERT_TRUE(WaitParked()); // the first file cannot take its name
    fs::remove_all(folder.Folder() + "first.bin");
    // The user continues and at once pauses again: the pause arrives while
    // the run is placing the first file, before the next transfer begins.
    OnStartButton();
    OnStartButton();
    EXPECT_TRUE(g_downloadSession.pause.Requested());

    ASSERT_TRUE(Within([&] { return Exists(folder.Folder() + "first.bin"); }));
    ASSERT_TRUE(WaitParked());
    EXPECT_FALSE(Exists(folder.Folder() + "second.bin")) << "the second file waits for the user";
    EXPECT_EQ(window.Face(), StartFace::Continue);

    OnStartButton();
    ASSERT_TRUE(WaitFinished());
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
    OnStartButton(); // pause
    ASSERT_TRUE(WaitParked());
    EXPECT_TRUE(window.Messages().empty()) << "a pause shows no message";
    EXPECT_EQ(window.Face(), StartFace::Continue);
    const auto partial = fs::file_size(path + ".tmp");
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, content.size());
    EXPECT_EQ(ReadFileText(path + ".des"), Md5Of(content));

    OnStartButton(); // continue
    EXPECT_EQ(window.Face(), StartFace::Pause);
    ASSERT_TRUE(WaitFinished());
    EXPECT_EQ(ReadFileText(path), content);
    EXPECT_EQ(Marks(), "SPRD");
}

} // namespace
