#pragma once

#include <memory>

class WorkerThread;

// One check run: makes sure the download folder still exists, fetches the two
// server lists into it, reads them, builds the download plan and tests the
// free space, and leaves the plan and totals in g_downloadSession with
// checkFinished set last. It reaches the window only through
// g_downloadSession.mainWindow, and the folder store and drives through
// RunFolderStore() and RunDrives().
//
// Runs on the calling thread (a check thread); runs never overlap. Returns 0
// when it ends normally. A list that cannot be fetched or read, a server under
// maintenance or a list naming files outside the folder ends the process
// through ReportAndTerminate() and does not return. For a returning user
// (folder remembered, something to fetch) it ends by running the start
// command of the window on this thread.
int CheckThreadProc();

// The run a check run started after moving a defaulted folder to another
// drive (the run keeps no handle of it), or null. Lets a caller that must not
// leave threads behind (tests, an orderly exit) wait for it.
std::shared_ptr<WorkerThread> LastMovedCheckRun();
