#include "run/Commands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "run/DownloadSession.h"
#include "run/RunReport.h"
#include "platform/FolderStore.h"
#include "platform/WorkerThread.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

// The start and change-folder commands in the states where they start no
// thread; the states that do are driven end to end in the download run and
// console client tests.
class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_downloadSession.ResetForTest();
        g_downloadSession.mainWindow = &window;
        g_downloadSession.environment.folderStore = &store;
        window.config.m_strRegKey = "folder";
        m_traceBefore = StepTraceText().size();
    }
    void TearDown() override
    {
        g_downloadSession.ResetForTest();
    }
    std::string Marks() const { return StepTraceText().substr(m_traceBefore); }

    RecordingWindow window;
    MemoryFolderStore store;
    TempDir folder;

    std::size_t m_traceBefore = 0;
};

TEST_F(Commands, start_without_a_folder_asks_and_cancel_changes_nothing)
{
    window.QueueAnswer(MessageAnswer::Cancel);
    OnStartButton();
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, "请先选择下载路径");
    EXPECT_EQ(window.Messages()[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(window.Events().size(), 1u) << "nothing but the question";
}

TEST_F(Commands, start_without_a_folder_ok_opens_the_folder_choice_and_a_cancelled_choice_reenables)
{
    window.QueueAnswer(MessageAnswer::Ok);
    window.SetChosenFolder(std::nullopt);
    OnStartButton();
    EXPECT_EQ(window.Events(), (std::vector<std::string>{"message main 请先选择下载路径", "enable 1003 0",
                                                         "enable 1000 0", "choose 请选择下载路径:",
                                                         "enable 1000 1", "enable 1003 1"}));
    EXPECT_EQ(g_downloadSession.DownloadFolder(), "");
    EXPECT_EQ(g_downloadSession.CheckThread(), nullptr) << "no folder, no check run";
}

TEST_F(Commands, start_with_a_folder_that_is_gone_forgets_it_and_asks_for_another)
{
    store.values["folder"] = "/nowhere/at/all/";
    g_downloadSession.SetDownloadFolder("/nowhere/at/all/");
    g_downloadSession.checkFinished = 1;
    OnStartButton();
    EXPECT_EQ(g_downloadSession.DownloadFolder(), "");
    EXPECT_EQ(store.values["folder"], "");
    EXPECT_EQ(window.Events(),
              (std::vector<std::string>{"text 1005 请设置下载路径", "message main 下载路径不存在!\n请重新选择下载路径!",
                                        "enable 1003 1", "enable 1000 1"}));
    EXPECT_EQ(g_downloadSession.DownloadThread(), nullptr);
}

TEST_F(Commands, start_while_the_check_runs_does_nothing)
{
    g_downloadSession.SetDownloadFolder(folder.Folder());
    OnStartButton();
    EXPECT_TRUE(window.Events().empty());
    EXPECT_EQ(g_downloadSession.DownloadThread(), nullptr);
    EXPECT_EQ(Marks(), "");
}

TEST_F(Commands, installer_that_is_missing_is_named_and_the_folder_stays_remembered)
{
    store.values["folder"] = folder.Folder();
    g_downloadSession.SetDownloadFolder(folder.Folder());
    g_downloadSession.installerReady = 1;
    g_downloadSession.SetInstallerPath(folder.Folder() + "setup.sh");
    OnStartButton();
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text.rfind("安装程序启动失败!\n" + folder.Folder() + "setup.sh\n", 0), 0u);
    EXPECT_EQ(store.values["folder"], folder.Folder());
    EXPECT_FALSE(window.MainWindowHidden());
    EXPECT_EQ(Marks(), "");
}

// The installer is checked against its listed digest on the descriptor it
// is started from: one that changed after the check is not run.
TEST_F(Commands, installer_that_is_not_the_listed_bytes_is_not_run)
{
    const std::string marker = folder.Folder() + "ran";
    const std::string listed = "#!/bin/sh\necho listed > " + marker + "\n";
    struct Case {
        const char* name;
        std::string onDisk;
    };
    const Case cases[] = {
        {"swapped_for_another_program", "#!/bin/sh\necho swapped > " + marker + "\n"},
        {"cut_short", listed.substr(0, 10)},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingWindow shown;
        shown.config.m_strRegKey = "folder";
        g_downloadSession.mainWindow = &shown;
        store.values["folder"] = folder.Folder();
        g_downloadSession.SetDownloadFolder(folder.Folder());
        g_downloadSession.installerReady = 1;
        g_downloadSession.SetInstallerPath(folder.Folder() + "setup.sh");
        const std::string digest = Md5Of(listed);
        std::array<char, 32> md5{};
        std::copy(digest.begin(), digest.end(), md5.begin());
        g_downloadSession.SetInstallerListedDigest(md5);
        folder.Write("setup.sh", c.onDisk);

        OnStartButton();

        g_downloadSession.mainWindow = &window;
        ASSERT_EQ(shown.Messages().size(), 1u);
        EXPECT_EQ(shown.Messages()[0].text,
                  "安装程序启动失败!\n" + folder.Folder() + "setup.sh\n安装程序与更新列表中的校验值不符");
        EXPECT_FALSE(shown.MainWindowHidden());
        EXPECT_EQ(store.values["folder"], folder.Folder());
        EXPECT_EQ(Marks(), "");
        // Had it started, the run would have ended this process.
    }
}

// The listed digest in capitals (as some lists have it) names the same
// bytes: the installer starts and the run ends.
TEST_F(Commands, installer_matching_its_listed_digest_in_any_case_is_run)
{
    const std::string marker = folder.Folder() + "ran";
    const std::string program = "#!/bin/sh\necho ran > " + marker + ".part && mv " + marker + ".part " + marker + "\n";
    folder.Write("setup.sh", program);
    std::string digest = Md5Of(program);
    std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return std::toupper(c); });
    std::array<char, 32> md5{};
    std::copy(digest.begin(), digest.end(), md5.begin());
    g_downloadSession.SetDownloadFolder(folder.Folder());
    g_downloadSession.installerReady = 1;
    g_downloadSession.SetInstallerPath(folder.Folder() + "setup.sh");
    g_downloadSession.SetInstallerListedDigest(md5);

    EXPECT_EXIT(OnStartButton(), ::testing::ExitedWithCode(0), "");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadFileText(marker), "ran\n");
}

TEST_F(Commands, cancelled_close_changes_nothing)
{
    window.QueueAnswer(MessageAnswer::Cancel);
    OnCloseButton();
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].text, "下载未完成,是否仍要关闭?");
    EXPECT_EQ(window.Messages()[0].caption, "关闭");
    EXPECT_EQ(g_downloadSession.mainWindow.load(), &window);
    EXPECT_FALSE(window.MainWindowHidden());
    EXPECT_EQ(Marks(), "");
}

TEST_F(Commands, browse_cancelled_keeps_the_old_folder)
{
    g_downloadSession.SetDownloadFolder(folder.Folder());
    window.SetChosenFolder(std::nullopt);
    OnBrowseButton();
    EXPECT_EQ(g_downloadSession.DownloadFolder(), folder.Folder());
    EXPECT_EQ(window.Text(IDC_FOLDER), " " + folder.Folder());
    EXPECT_TRUE(window.Enabled(IDC_START));
    EXPECT_TRUE(window.Enabled(IDC_BROWSE));
    EXPECT_EQ(g_downloadSession.CheckThread(), nullptr);
}

// A returning user's automatic start and a click on start in the same
// moment: one download run, one mark, whichever comes first.
TEST_F(Commands, two_starts_at_once_start_one_download_run)
{
    for (int round = 0; round < 20; ++round) {
        g_downloadSession.ResetForTest();
        g_downloadSession.mainWindow = &window;
        g_downloadSession.environment.folderStore = &store;
        g_downloadSession.SetDownloadFolder(folder.Folder());
        g_downloadSession.SetPlan(std::make_shared<PlannedFiles>());
        g_downloadSession.checkFinished = 1;
        std::atomic<bool> go{false};
        auto click = [&] {
            while (!go)
                std::this_thread::yield();
            OnStartButton();
        };
        std::thread automatic(click);
        std::thread user(click);
        go = true;
        automatic.join();
        user.join();
        const auto run = g_downloadSession.DownloadThread();
        ASSERT_NE(run, nullptr);
        run->Wait();
        // The second click may land as a pause of the run the first started.
        const std::string marks = StepTraceText();
        EXPECT_EQ(std::count(marks.begin(), marks.end(), 'S'), 1) << "round " << round << ": " << marks;
        EXPECT_EQ(std::count(marks.begin(), marks.end(), 'D'), 1) << "round " << round << ": " << marks;
    }
}

// The change-folder button while a download runs: no check run starts, so
// none can replace the plan under the download.
TEST_F(Commands, browse_while_a_download_runs_does_nothing)
{
    g_downloadSession.SetDownloadFolder(folder.Folder());
    std::mutex gate;
    gate.lock();
    auto download = WorkerThread::Create([&] { std::lock_guard hold(gate); });
    ASSERT_TRUE(g_downloadSession.PublishDownloadThread(download));
    download->Run();
    window.SetChosenFolder(folder.Folder() + "other");
    OnBrowseButton();
    gate.unlock();
    download->Wait();
    EXPECT_EQ(g_downloadSession.CheckThread(), nullptr);
    EXPECT_EQ(g_downloadSession.DownloadFolder(), folder.Folder());
    EXPECT_TRUE(window.Events().empty());
}

} // namespace
