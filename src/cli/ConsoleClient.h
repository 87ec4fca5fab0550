#pragma once

#include "cli/CliOptions.h"

// Exit statuses of the console client.
enum ConsoleExitStatus : int {
    ExitAllPresent = 0,
    ExitListsFailed = 1,   // lists not fetched or read, maintenance, list refused
    ExitUsage = 2,         // wrong usage, or no download folder
    ExitFileFailed = 3,    // a file still failed after the retries; installer not started
    ExitNoSpace = 4,
    ExitInterrupted = 130,
};

// The whole run without a window, on the calling (main) thread: picks the
// folder, runs the check, starts the download, resumes it after failures as
// told, prints progress, and ends the process with one of the statuses
// above. Call it before any other thread exists: it blocks the stop signals
// (Ctrl-C and the like) for every thread it starts and waits for them itself.
// Never returns.
[[noreturn]] void RunConsoleClient(const CliOptions& options);
