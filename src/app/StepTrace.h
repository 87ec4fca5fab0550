#pragma once

#include <string>

// The step trace: one-letter marks of the path a run took (S B P R E D I C),
// appended from any thread, never cleared.
void AppendStep(const std::string& text);
// A copy of the whole trace.
std::string StepTraceText();

// Hands one text to the report library (libsysrep.so, GetAndSendMachineInfo)
// with ".//sysinfo.ini", the list version, the text and 5, 10, 0. Does
// nothing when the library or its symbol is missing. Blocks while it runs.
void SendMachineInfo(const std::string& text);

// The common end: "C" unless the installer is ready, the whole trace
// reported when not empty, 2000 ms wait, then _exit(0). Never returns, and
// takes no lock a halted worker could be holding.
[[noreturn]] void ReportAndTerminate();
