#include "run/RunReport.h"

#include <chrono>

#include "platform/ProcessEnd.h"
#include "platform/TextConversion.h"

void AppendStep(const std::string& text)
{
    g_downloadSession.stepTrace.Append(text);
}

std::string StepTraceText()
{
    return g_downloadSession.stepTrace.Text();
}

void SendMachineInfo(const std::string& text)
{
    // The version is the update list's text as read, in the locale's
    // character set; the library takes UTF-8.
    SendMachineInfo(LocaleToUtf8(g_downloadSession.ListVersion()), text);
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

void EndRun(EndReason reason)
{
    if (EndRoutine routine = g_downloadSession.endRoutine.load())
        routine(reason);
    ReportAndTerminate();
}
