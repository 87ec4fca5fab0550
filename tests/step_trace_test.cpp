#include "run/RunReport.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "run/DownloadSession.h"
#include "platform/ReportLibrary.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ChildEnd {
    bool exited = false;
    int status = -1;
    std::chrono::milliseconds elapsed{0};
};

// Runs body in a forked child (ReportAndTerminate ends the process it runs
// in) and waits for it to end, killing it after 30 s.
ChildEnd RunInChild(const std::function<void()>& body)
{
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(99); // body should never return
    }
    ChildEnd end;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > std::chrono::seconds(30)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return end;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    end.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    end.exited = WIFEXITED(status);
    end.status = end.exited ? WEXITSTATUS(status) : -1;
    return end;
}

std::string ReportLine(const std::string& version, const std::string& steps)
{
    return ".//sysinfo.ini\t" + version + "\t" + steps + "\t5\t10\t0\n";
}

} // namespace

TEST(step_trace, reports_and_ends_with_status_zero_after_two_seconds)
{
    const struct {
        const char* name;
        int installerReady;
        const char* version;
        std::vector<const char*> steps; // "+X": AppendStep, "!X": SendMachineInfo
        std::string expectedLog;
    } cases[] = {
        {"closed before anything", 0, "", {}, ReportLine("", "C")},
        {"paused, resumed, failed, closed", 0, "1.0.3", {"+S", "!S", "+P", "+R", "+E"},
         ReportLine("1.0.3", "S") + ReportLine("1.0.3", "SPREC")},
        {"returning user to the installer", 1, "2.1", {"+B", "!B", "+D", "!D", "+I"},
         ReportLine("2.1", "B") + ReportLine("2.1", "D") + ReportLine("2.1", "BDI")},
        {"installer ready at once", 1, "2.1", {"+I"}, ReportLine("2.1", "I")},
    };
    // The trace is process-wide and never cleared: the children must start
    // from an empty one.
    if (!StepTraceText().empty())
        GTEST_SKIP() << "trace not empty at the start";
    for (const auto& c : cases) {
        TempDir dir;
        const std::string log = dir.Folder() + "sysrep.log";
        const ChildEnd end = RunInChild([&] {
            ::setenv("SYSREP_LOG", log.c_str(), 1);
            g_downloadSession.installerReady = c.installerReady;
            g_downloadSession.SetListVersion(c.version);
            for (const char* step : c.steps) {
                if (step[0] == '+')
                    AppendStep(step + 1);
                else
                    SendMachineInfo(step + 1);
            }
            ReportAndTerminate();
        });
        EXPECT_TRUE(end.exited) << c.name;
        EXPECT_EQ(end.status, 0) << c.name;
        EXPECT_GE(end.elapsed.count(), 2000) << c.name;
        EXPECT_EQ(ReadFileText(log), c.expectedLog) << c.name;
    }
}

TEST(step_trace, nothing_is_reported_when_the_installer_is_ready_and_the_trace_empty)
{
    if (!StepTraceText().empty())
        GTEST_SKIP() << "trace not empty at the start";
    TempDir dir;
    const std::string log = dir.Folder() + "sysrep.log";
    const ChildEnd end = RunInChild([&] {
        ::setenv("SYSREP_LOG", log.c_str(), 1);
        g_downloadSession.installerReady = 1;
        ReportAndTerminate();
    });
    EXPECT_EQ(end.status, 0);
    EXPECT_GE(end.elapsed.count(), 2000);
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(step_trace, without_the_library_it_still_waits_and_ends_with_status_zero)
{
    TempDir dir;
    const std::string log = dir.Folder() + "sysrep.log";
    const ChildEnd end = RunInChild([&] {
        ::setenv("SYSREP_LOG", log.c_str(), 1);
        SetReportLibraryNameForTest("libsysrep-not-installed.so");
        AppendStep("S");
        SendMachineInfo("S");
        ReportAndTerminate();
    });
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.status, 0);
    EXPECT_GE(end.elapsed.count(), 2000);
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(step_trace, report_completes_while_workers_keep_appending)
{
    TempDir dir;
    const std::string log = dir.Folder() + "sysrep.log";
    const ChildEnd end = RunInChild([&] {
        ::setenv("SYSREP_LOG", log.c_str(), 1);
        for (int i = 0; i < 2; ++i)
            std::thread([] {
                for (;;) {
                    AppendStep("E");
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
            }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ReportAndTerminate();
    });
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.status, 0);
    const std::string reported = ReadFileText(log);
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(reported.starts_with(".//sysinfo.ini\t\tE")) << reported.substr(0, 40);
}

TEST(step_trace, appends_from_several_threads_lose_nothing)
{
    const std::size_t before = StepTraceText().size();
    std::vector<std::thread> threads;
    for (const char* mark : {"P", "R", "E", "D"})
        threads.emplace_back([mark] {
            for (int i = 0; i < 2000; ++i)
                AppendStep(mark);
        });
    for (auto& thread : threads)
        thread.join();
    const std::string trace = StepTraceText().substr(before);
    EXPECT_EQ(trace.size(), 8000u);
    for (char mark : std::string("PRED"))
        EXPECT_EQ(std::count(trace.begin(), trace.end(), mark), 2000) << mark;
    AppendStep("");
    EXPECT_EQ(StepTraceText().size(), before + 8000) << "no text appends nothing";
}
