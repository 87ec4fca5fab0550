#pragma once

#include <string>
#include <vector>

#include "planning/DownloadPlan.h"
#include "run/CheckResult.h"

class IDownloadWindow;

// One check run: makes sure the download folder still exists, fetches the two
// server lists into it, reads them, builds the download plan and tests the
// free space. A folder the run chose itself that is short of space moves to
// the first fixed drive with room and is checked again there.
//
// RunCheck does the work and returns how it ended. On the way it shows the
// window what a player sees while it runs (the checking face and text, the
// version), publishes the plan, its totals and the installer path in
// g_downloadSession, and keeps the result there (LastCheck). It never ends
// the process and never shows a message.
//
// ApplyCheckResult shows the result to the window as the program does: a
// list that cannot be used hides the window, shows its message and ends the
// run (EndRun); space short and a folder gone ask for another folder; a ready
// plan enables the buttons and sets checkFinished last; a returning user's
// download is asked to start (IDownloadWindow::RunStartCommand).
//
// CheckThreadProc is both, on a check thread; check runs never overlap. The
// window is the session's at each call, so a close that halts the window
// halts what a run still going does to it.
CheckResult RunCheck();
void ApplyCheckResult(const CheckResult& result);
int CheckThreadProc();

// The plan of one folder as BuildDownloadPlan makes it with one size query
// after the other, but with the sizes asked for many at once on the session's
// engine (made with connections if it is the first use): those of the files
// not on disk while the present files are hashed on threads of their own
// (remembered digests taken from the folder's cache unless the session's
// verifyDigests is set), then those of the present files that must come
// again. Short files received whole by their size query are kept in the plan
// (8 MiB in all at most). A size the list's base URL cannot give is asked of
// each of mirrors (base URLs) in turn. The cache is saved once the plan
// stands. Called on a check run's thread.
// folder is the download folder held open (as for BuildDownloadPlan),
// folderPath its path; the hashing threads open it again, one each.
PlannedFiles PlanFilesInParallel(int connections, const FolderBeneath& folder, const std::string& folderPath,
                                 const std::string& baseUrl, const std::vector<FileLine>& files,
                                 const std::vector<std::string>& mirrors = {});
