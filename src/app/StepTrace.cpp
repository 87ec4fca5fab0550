#include "app/StepTrace.h"

#include <chrono>
#include <mutex>

#include "planning/DownloadSession.h"
#include "platform/ProcessEnd.h"
#include "platform/ReportLibrary.h"
#include "platform/TextConversion.h"

namespace {

// Held only while the trace is appended to or copied, never across a call
// that can block, so the final report can always take it.
std::mutex g_traceMutex;
std::string g_stepTrace;

constexpr const char* kReportIniPath = ".//sysinfo.ini";

} // namespace

void AppendStep(const std::string& text)
{
    std::lock_guard lock(g_traceMutex);
    g_stepTrace += text;
}

std::string StepTraceText()
{
    std::lock_guard lock(g_traceMutex);
    return g_stepTrace;
}

void SendMachineInfo(const std::string& text)
{
    // The version is the update list's text as read, in the locale's
    // character set; the library takes UTF-8.
    const std::string version = LocaleToUtf8(g_downloadSession.ListVersion());
    (void)CallReportLibrary(kReportIniPath, version, text, 5, 10, 0);
}

void ReportAndTerminate()
{
    if (g_downloadSession.installerReady.load() == 0)
        AppendStep("C");
    const std::string trace = StepTraceText();
    if (!trace.empty())
        SendMachineInfo(trace);
    EndProcessAfter(std::chrono::milliseconds(2000));
}
