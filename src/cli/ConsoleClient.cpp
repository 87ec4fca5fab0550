#include "cli/ConsoleClient.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>

#include <pthread.h>
#include <unistd.h>

#include "app/LocalConfig.h"
#include "cli/ConsoleWindow.h"
#include "cli/JsonEvents.h"
#include "cli/RetryPolicy.h"
#include "platform/WorkerThread.h"
#include "run/Commands.h"
#include "run/DownloadFolderChoice.h"
#include "run/DownloadSession.h"
#include "run/DownloadThread.h"
#include "run/RunReport.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_exitStatus{ExitAllPresent};
// The --json output; null without it.
std::atomic<JsonEvents*> g_json{nullptr};
// The thread of the client's loop, woken with WakeSignal when a run thread
// ends so that the loop need not wait out its tick.
pthread_t g_loopThread;
constexpr int WakeSignal = SIGUSR2;

void WakeLoop(WorkerThread&)
{
    pthread_kill(g_loopThread, WakeSignal);
}

// The exit status of a check that ended the run.
int StatusOfCheck(CheckOutcome outcome)
{
    switch (outcome) {
    case CheckOutcome::NoSpace: return ExitNoSpace;
    case CheckOutcome::FolderGone:
    case CheckOutcome::ListsNotWritten: // the folder is forgotten: name another
    case CheckOutcome::NoWindow: return ExitUsage;
    case CheckOutcome::Ready:
    case CheckOutcome::NothingToFetch: return ExitAllPresent;
    case CheckOutcome::ListsNotFetched:
    case CheckOutcome::Maintenance:
    case CheckOutcome::ListRefused:
    case CheckOutcome::SignatureRefused: break;
    case CheckOutcome::Failed: break;
    }
    return ExitListsFailed;
}

// The client's end of every path: the trace ends in "C" unless the installer
// is ready, the trace is reported, and the process ends with the status the
// client chose. Unlike the window it does not linger: the report call has
// returned by then.
void ConsoleEnd(EndReason reason)
{
    int status = g_exitStatus.load();
    if (reason == EndReason::InstallerLaunched)
        status = ExitAllPresent;
    else if (reason == EndReason::CheckFailed)
        status = StatusOfCheck(g_downloadSession.LastCheck().outcome);
    if (g_downloadSession.installerReady == 0)
        AppendStep("C");
    const std::string trace = StepTraceText();
    if (!trace.empty())
        SendMachineInfo(trace);
    if (JsonEvents* json = g_json.load())
        json->End(status);
    std::fflush(nullptr);
    ::_exit(status);
}

// Ends before the run began: no trace, no report.
[[noreturn]] void EndEarly(int status)
{
    if (JsonEvents* json = g_json.load())
        json->End(status);
    ::_exit(status);
}

[[noreturn]] void Finish(int status)
{
    g_exitStatus = status;
    ConsoleEnd(EndReason::Closed);
    ::_exit(status);
}

std::string FormatMegabytes(double bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", bytes / 1048576.0);
    return text;
}

std::string FormatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 359999)
        return "--:--";
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

// The speed over the last few seconds, from samples of bytesDone.
class Speedometer {
public:
    void Sample(Clock::time_point now, std::uint64_t bytes)
    {
        m_samples.push_back({now, bytes});
        while (m_samples.size() > 2 && now - m_samples.front().first > std::chrono::seconds(3))
            m_samples.pop_front();
    }
    void Reset() { m_samples.clear(); }
    double BytesPerSecond() const
    {
        if (m_samples.size() < 2)
            return 0.0;
        const auto& first = m_samples.front();
        const auto& last = m_samples.back();
        const double seconds = std::chrono::duration<double>(last.first - first.first).count();
        if (seconds <= 0 || last.second < first.second)
            return 0.0;
        return static_cast<double>(last.second - first.second) / seconds;
    }

private:
    std::deque<std::pair<Clock::time_point, std::uint64_t>> m_samples;
};

std::string ProgressLine(std::uint64_t done, std::uint64_t total, double speed)
{
    const double percent = total != 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 0.0;
    const double left = speed > 0 && total > done ? static_cast<double>(total - done) / speed : (total > done ? NAN : 0);
    char text[160];
    std::snprintf(text, sizeof text, "%3d%%  %s/%s MB  %s MB/s  剩余 %s", static_cast<int>(std::min(percent, 100.0)),
                  FormatMegabytes(static_cast<double>(done)).c_str(), FormatMegabytes(static_cast<double>(total)).c_str(),
                  FormatMegabytes(speed).c_str(), FormatDuration(left).c_str());
    return text;
}

} // namespace

void RunConsoleClient(const CliOptions& options)
{
    std::signal(SIGPIPE, SIG_IGN);
    // Blocked here, before any thread exists, so that every thread inherits
    // the mask and only the loop below takes these signals.
    sigset_t waits;
    sigemptyset(&waits);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, WakeSignal})
        sigaddset(&waits, number);
    pthread_sigmask(SIG_BLOCK, &waits, nullptr);
    g_loopThread = pthread_self();
    WorkerThread::SetFinishedHook(WakeLoop);

    // Lives until the process ends, like the window below.
    static JsonEvents json(STDOUT_FILENO);
    if (options.json) {
        g_json = &json;
        json.SetPhase(RunPhase::Checking);
    }

    if (options.configGiven && ::access(options.configPath.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "zorvath-cli: cannot read the settings file %s\n", options.configPath.c_str());
        EndEarly(ExitUsage);
    }
    std::string chosenFolder;
    if (options.folder) {
        std::error_code error;
        std::filesystem::path folder = std::filesystem::absolute(*options.folder, error).lexically_normal();
        if (!error)
            std::filesystem::create_directories(folder, error);
        if (error || !std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "zorvath-cli: cannot use the download folder %s\n", options.folder->c_str());
            EndEarly(ExitUsage);
        }
        chosenFolder = folder.string();
        while (chosenFolder.size() > 1 && chosenFolder.back() == '/')
            chosenFolder.pop_back();
    }

    LocalConfig config = ReadLocalConfig(options.configPath);
    if (options.connections)
        config.m_connections = *options.connections;
    if (options.limitRate)
        config.m_limitBytesPerSecond = *options.limitRate;
    if (config.m_skippedMirrors > 0)
        std::fprintf(stderr, "zorvath-cli: %d mirror(s) in the settings file left out: not http:// or https:// URLs\n",
                     config.m_skippedMirrors);
    // Both live until the process ends: worker threads may use them to the last.
    static ConsoleWindow window(config, options.quiet, ::isatty(STDOUT_FILENO) == 1, g_json.load());
    static ConsoleProgressBar bar;
    DownloadSession& session = g_downloadSession;
    session.mainWindow = &window;
    session.progressBar = &bar;
    session.endRoutine = ConsoleEnd;
    session.verifyDigests = options.verify ? 1 : 0;
    session.runObserver = g_json.load();

    if (options.folder) {
        window.SetChosenFolder(chosenFolder);
        OnBrowseButton();
    } else {
        InitDownloadFolder(session.environment.FolderStore(), session.environment.Drives(), config, &window);
        StartCheckRun(false);
    }

    bool clicked = false;
    int handledFailures = 0;
    RetryPolicy retry(options.retries, options.retryWait);
    Clock::time_point resumeAt{}; // a failed transfer is resumed from then on
    std::optional<Clock::time_point> downloadStarted;
    Clock::time_point lastDraw{};
    Speedometer speedometer;
    int presentFiles = 0; // files the check found in place
    const auto progressFigures = [&](std::uint64_t done) {
        return ProgressFigures{presentFiles + json.FilesPlaced(), session.fileCount.load(), done,
                               session.totalBytes.load(),
                               static_cast<std::uint64_t>(std::llround(speedometer.BytesPerSecond()))};
    };

    for (;;) {
        timespec wait{0, 100 * 1000 * 1000};
        const int signal = sigtimedwait(&waits, nullptr, &wait);
        if (signal > 0 && signal != WakeSignal) {
            window.PrintLine("zorvath-cli: interrupted; partial files are kept for the next run", true);
            g_exitStatus = ExitInterrupted;
            OnCloseButton(); // the console window answers its question with OK
            Finish(ExitInterrupted);
        }
        const auto now = Clock::now();

        if (const auto download = session.DownloadThread()) {
            if (!downloadStarted)
                downloadStarted = now;
            if (download->Finished())
                break;
            if (session.pause.Parked()) {
                speedometer.Reset();
                const int failures = session.Failures();
                if (failures != handledFailures) {
                    handledFailures = failures;
                    const RetryPolicy::Decision next =
                        retry.OnFailure(session.LastFailure().entry, session.bytesDone.load());
                    if (next.giveUp) {
                        window.PrintLine("zorvath-cli: giving up after " + std::to_string(next.failuresInRow) +
                                             " failures in a row on one file; run again to continue",
                                         true);
                        Finish(ExitFileFailed);
                    }
                    resumeAt = now + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(next.waitSeconds));
                    char note[96];
                    std::snprintf(note, sizeof note, "zorvath-cli: continuing in %g s (failure %d of %d allowed)",
                                  next.waitSeconds, next.failuresInRow, options.retries);
                    window.PrintLine(note);
                }
                if (now >= resumeAt)
                    OnStartButton(); // resumes the paused download
            } else {
                const std::uint64_t done = session.bytesDone;
                speedometer.Sample(now, done);
                if (now - lastDraw >= std::chrono::milliseconds(200)) {
                    lastDraw = now;
                    window.DrawProgress(ProgressLine(done, session.totalBytes, speedometer.BytesPerSecond()));
                    if (options.json)
                        json.Progress(progressFigures(done));
                }
            }
            continue;
        }

        // The check runs until its result is in; a check that cannot use
        // the lists ends the run itself (ConsoleEnd).
        if (CheckRunActive())
            continue;
        const CheckResult check = session.LastCheck();
        if (check.outcome == CheckOutcome::NothingToFetch)
            break;
        if (check.outcome == CheckOutcome::NoSpace)
            Finish(ExitNoSpace);
        const bool noFolder = check.outcome != CheckOutcome::Ready || session.DownloadFolder().empty();
        // The start command runs here, on the client's own thread; it starts
        // no download when the folder went away since the check.
        if (!noFolder && !clicked) {
            clicked = true;
            downloadStarted = now;
            if (const auto plan = session.Plan()) {
                for (const PlanEntry& entry : plan->entries)
                    presentFiles += entry.needed == 0 ? 1 : 0;
            }
            OnStartButton();
            if (session.DownloadThread() != nullptr)
                continue;
        }
        window.PrintLine("zorvath-cli: no download folder; name one with --folder", true);
        Finish(ExitUsage);
    }

    // Every file is present.
    window.EndProgressLine();
    if (options.json) {
        ProgressFigures figures = progressFigures(session.bytesDone);
        figures.filesDone = figures.filesTotal;
        json.Progress(figures);
    }
    const std::string folder = session.DownloadFolder();
    std::string summary = "zorvath-cli: all " + std::to_string(session.fileCount.load()) + " files present in " + folder;
    if (downloadStarted && session.bytesToFetch != 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - *downloadStarted).count();
        const double bytes = static_cast<double>(session.bytesToFetch.load());
        char figures[160];
        std::snprintf(figures, sizeof figures, "; fetched %.0f bytes (%s MB) in %.2f s, %s MB/s", bytes,
                      FormatMegabytes(bytes).c_str(), seconds,
                      FormatMegabytes(seconds > 0 ? bytes / seconds : 0).c_str());
        summary += figures;
    }
    window.PrintLine(summary);

    if (options.install) {
        OnStartButton(); // launches the installer and ends the process
        Finish(ExitFileFailed); // the installer could not be started; the message says why
    }
    Finish(ExitAllPresent);
}
