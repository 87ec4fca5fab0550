#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "planning/PlanEntry.h"

class IDownloadWindow;
class IProgressBar;
class MyDownloadState;
class WorkerThread;

// Records reserved when a plan is created. The plan grows past it: a list may
// name any number of files.
inline constexpr std::size_t PlanCapacity = 1000;

// The state of one run, shared by the user-interface thread, the check runs
// and the download thread. There is one instance per process
// (g_downloadSession). Flags and counters are atomics; the plan and the
// strings are handed from one thread to the next by the order of the run:
// a check run writes them before it sets checkFinished, and the download
// thread reads them only after that.
struct DownloadSession {
    std::atomic<IDownloadWindow*> mainWindow{nullptr};
    std::atomic<IProgressBar*> progressBar{nullptr};
    // Thread handles; guarded by threadsMutex because the close command reads
    // them from another thread.
    std::shared_ptr<WorkerThread> downloadThread;
    std::shared_ptr<WorkerThread> checkThread;
    mutable std::mutex threadsMutex;

    std::atomic<int> paused{0};
    std::atomic<int> fileCount{0};
    std::atomic<std::uint64_t> bytesToFetch{0};
    std::atomic<std::uint64_t> totalBytes{0};
    std::atomic<int> folderFromRegistry{0};
    std::atomic<int> checkFinished{0};
    std::atomic<int> folderDefaulted{0};
    std::atomic<int> installerReady{0};
    std::atomic<MyDownloadState*> activeProgress{nullptr};
    // Null before the first check run and after a complete download.
    std::unique_ptr<std::vector<PlanEntry>> plan;
    std::atomic<std::uint64_t> bytesDone{0};
    std::atomic<int> lastPercent{0};

    // Strings are UTF-8. downloadFolder is empty or an absolute path ending
    // with '/'. Guarded by stringsMutex where threads may overlap; use the
    // accessors below from any thread.
    std::string downloadFolder;
    std::string installerPath;
    std::string listVersion;
    std::string fileBaseUrl;
    mutable std::mutex stringsMutex;

    std::string DownloadFolder() const;
    void SetDownloadFolder(const std::string& folder);
    std::string ListVersion() const;
    void SetListVersion(const std::string& version);

    std::shared_ptr<WorkerThread> DownloadThread() const;
    std::shared_ptr<WorkerThread> CheckThread() const;

    // Drops the plan and makes a fresh empty one with PlanCapacity reserved;
    // zeroes fileCount, totalBytes, bytesToFetch and bytesDone.
    void ResetPlan();
    // Back to the start values of a new process (for tests).
    void ResetForTest();
};

extern DownloadSession g_downloadSession;
