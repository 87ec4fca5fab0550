#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/RunEnvironment.h"
#include "app/StepTrace.h"
#include "planning/DownloadPlan.h"
#include "run/CheckResult.h"
#include "run/FileOutcome.h"
#include "run/PauseHandshake.h"

class DigestCache;
class IDownloadWindow;
class IProgressBar;
class IRunObserver;
class TransferEngine;
class MyDownloadState;
class WorkerThread;

// Why the run ends the process.
enum class EndReason { Closed, InstallerLaunched, CheckFailed };
// Ends the process: the trace marks, the report and the exit. Must not return.
using EndRoutine = void (*)(EndReason reason);

// The state of one run, shared by the user-interface thread, the check runs
// and the download run: everything the run shares lives here, and nowhere
// else. There is one instance per process (g_downloadSession).
//
// Flags and counters are atomics. The plan is a value handed over whole: a
// check run publishes a new one before it sets checkFinished, and a download
// run keeps its own reference for as long as it runs. Threads, strings and
// results are guarded by the session's lock; use the accessors from any
// thread.
struct DownloadSession {
    std::atomic<IDownloadWindow*> mainWindow{nullptr};
    std::atomic<IProgressBar*> progressBar{nullptr};
    // The services a run reaches; set before any worker starts.
    RunEnvironment environment;
    // Ends the process for the close command, the installer launch and a
    // failed check; null: ReportAndTerminate. Set before any worker starts.
    std::atomic<EndRoutine> endRoutine{nullptr};
    StepTrace stepTrace;

    PauseHandshake pause;
    std::atomic<int> fileCount{0};
    std::atomic<std::uint64_t> bytesToFetch{0};
    std::atomic<std::uint64_t> totalBytes{0};
    std::atomic<std::uint64_t> bytesDone{0};
    std::atomic<int> lastPercent{0};
    std::atomic<int> folderFromRegistry{0};
    std::atomic<int> checkFinished{0};
    std::atomic<int> folderDefaulted{0};
    std::atomic<int> installerReady{0};
    // Check runs started and not yet ended.
    std::atomic<int> activeCheckRuns{0};
    // Index in the plan of the entry the download run is working on, or -1.
    std::atomic<int> currentEntry{-1};
    // The download run's progress reporter while a transfer may use it.
    std::atomic<MyDownloadState*> activeProgress{nullptr};
    // 1: the check hashes every present file, whatever digests are remembered.
    std::atomic<int> verifyDigests{0};
    // Told of each file's start and end by the download run; none by
    // default. Set before any worker starts.
    std::atomic<IRunObserver*> runObserver{nullptr};

    std::shared_ptr<WorkerThread> DownloadThread() const;
    std::shared_ptr<WorkerThread> CheckThread() const;
    // Publishes a new download run: one compare-and-set under the lock. False
    // (and nothing published) while another download run has not finished.
    bool PublishDownloadThread(std::shared_ptr<WorkerThread> thread);
    void PublishCheckThread(std::shared_ptr<WorkerThread> thread);

    // The plan of the last check run; null before the first and after a
    // complete download.
    std::shared_ptr<const PlannedFiles> Plan() const;
    // Publishes a plan and its totals (fileCount, totalBytes, bytesToFetch,
    // bytesDone).
    void SetPlan(std::shared_ptr<const PlannedFiles> plan);
    // Drops the plan and zeroes its totals.
    void ResetPlan();
    // Drops the plan and keeps its totals (a download run that is complete).
    void DropPlan();

    // Strings are UTF-8 but for listVersion and fileBaseUrl, which are kept
    // as the list has them. downloadFolder is empty or an absolute path
    // ending with '/'.
    std::string DownloadFolder() const;
    void SetDownloadFolder(const std::string& folder);
    std::string InstallerPath() const;
    void SetInstallerPath(const std::string& path);
    // The installer's digest as its plan entry lists it, when the installer
    // is one of the listed files (set by the check run with the plan);
    // nothing otherwise. The launch compares the file it starts with it.
    std::optional<std::array<char, 32>> InstallerListedDigest() const;
    void SetInstallerListedDigest(const std::optional<std::array<char, 32>>& digest);
    std::string ListVersion() const;
    void SetListVersion(const std::string& version);
    std::string FileBaseUrl() const;
    void SetFileBaseUrl(const std::string& url);

    // The result of the last check run that ended.
    CheckResult LastCheck() const;
    void SetLastCheck(const CheckResult& result);
    // Failures of the download run so far (each one pauses it), and the last.
    int Failures() const;
    FileOutcome LastFailure() const;
    void RecordFailure(const FileOutcome& outcome);

    // The progress reporter of the last download run. It outlives its run, so
    // that a command that read activeProgress just before the run cleared it
    // still writes to a live object; the next run replaces it.
    MyDownloadState* NewProgress();
    // The transfer engine of the run, shared by the check's size queries and
    // the download: made on first use with the given connection count, then
    // kept for the process (a later count is ignored). Its speed limit is the
    // main window's configured one at that time (none without a window).
    // Only one thread drives it at a time: hold EngineDriver() around
    // QuerySizes and Run.
    std::shared_ptr<TransferEngine> Engine(int connections);
    std::mutex& EngineDriver() { return m_engineDriver; }
    // The remembered digests of the files in folder, loaded on first use for
    // that folder; null when folder is empty or there is no cache place. The
    // check run and the download run use it in turn, never at once.
    std::shared_ptr<DigestCache> Digests(const std::string& folder);

    // The window the workers see once the close command halted them; kept
    // for the rest of the process.
    IDownloadWindow* KeepHaltedWindow(std::unique_ptr<IDownloadWindow> window);

    // Back to the start values of a new process (tests; no worker may run).
    void ResetForTest();

    DownloadSession();
    ~DownloadSession();

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<WorkerThread> m_downloadThread;
    std::shared_ptr<WorkerThread> m_checkThread;
    std::shared_ptr<const PlannedFiles> m_plan;
    std::string m_downloadFolder;
    std::string m_installerPath;
    std::optional<std::array<char, 32>> m_installerListedDigest;
    std::string m_listVersion;
    std::string m_fileBaseUrl;
    CheckResult m_lastCheck;
    int m_failures = 0;
    FileOutcome m_lastFailure;
    std::unique_ptr<MyDownloadState> m_lastProgress;
    std::unique_ptr<IDownloadWindow> m_haltedWindow;
    std::shared_ptr<TransferEngine> m_engine;
    std::mutex m_engineDriver;
    std::string m_digestsFolder;
    std::shared_ptr<DigestCache> m_digests;
};

extern DownloadSession g_downloadSession;
