#pragma once

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/FolderStore.h"
#include "platform/WorkerThread.h"
#include "run/Commands.h"
#include "run/DownloadSession.h"
#include "run/RunReport.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TestData.h"

// A session with a recording window, a folder store in memory and a download
// folder; the download run is driven through the start command as the
// window would drive it.
class DownloadRunFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_downloadSession.ResetForTest();
        g_downloadSession.mainWindow = &window;
        g_downloadSession.progressBar = &bar;
        g_downloadSession.environment.folderStore = &store;
        window.config.m_strRegKey = "folder";
        window.onStartCommand = [] { OnStartButton(); };
        g_downloadSession.SetDownloadFolder(folder.Folder());
        m_traceBefore = StepTraceText().size();
    }

    void TearDown() override
    {
        // A run left parked by a failed expectation is let go; it then ends or
        // parks again on a window nobody watches.
        if (auto download = g_downloadSession.DownloadThread()) {
            g_downloadSession.pause.Resume();
            if (!download->Finished())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (auto check = g_downloadSession.CheckThread())
            check->Wait();
        g_downloadSession.ResetForTest();
    }

    // The marks appended since the test began.
    std::string Marks() const { return StepTraceText().substr(m_traceBefore); }

    // Starts the download thread as the start command does.
    void StartDownload()
    {
        g_downloadSession.checkFinished = 1;
        OnStartButton();
        ASSERT_NE(g_downloadSession.DownloadThread(), nullptr);
    }

    static bool WaitParked() { return Within([] { return g_downloadSession.DownloadThread() != nullptr && g_downloadSession.pause.Parked(); }); }

    static bool WaitFinished()
    {
        return Within([] {
            auto download = g_downloadSession.DownloadThread();
            return download != nullptr && download->Finished();
        });
    }

    // Polls until pred holds or 30 s pass.
    template <typename Pred>
    static bool Within(Pred pred)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    TempDir folder;
    RecordingWindow window;
    RecordingProgressBar bar;
    MemoryFolderStore store;

private:
    std::size_t m_traceBefore = 0;
};
