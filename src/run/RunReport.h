#pragma once

#include <string>

#include "run/DownloadSession.h"

// The session's step trace and its report.

// Appends a mark to the session's trace. Any thread.
void AppendStep(const std::string& text);
// The whole trace so far.
std::string StepTraceText();
// Hands one text to the report library with the session's list version.
void SendMachineInfo(const std::string& text);

// The common end: "C" unless the installer is ready, the whole trace
// reported when not empty, 2000 ms wait, then _exit(0). Never returns, and
// takes no lock a halted worker could be holding.
[[noreturn]] void ReportAndTerminate();

// Ends the process through the session's end routine (ReportAndTerminate
// when none is set).
[[noreturn]] void EndRun(EndReason reason);
