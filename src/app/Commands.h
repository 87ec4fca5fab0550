#pragma once

#include <memory>

class WorkerThread;

// The main window's commands, free of widgets: the window binds them to its
// buttons, the check run reaches the start command through
// IDownloadWindow::RunStartCommand, and the console client calls them
// directly. They reach the window only through DownloadSession::mainWindow and
// keep no state of their own.

// Why a command ends the process.
enum class EndReason { Closed, InstallerLaunched };
// Ends the process: the trace marks, the report and the exit. Must not return.
using EndRoutine = void (*)(EndReason reason);
// The routine the close command and the installer launch end with;
// ReportAndTerminate unless one is put in place (null restores it). The
// console client uses its own to give its exit status.
void SetEndRoutine(EndRoutine routine);

// The start button, its behaviour chosen on every call from the session:
//  1 no folder: ask for one (OK opens the folder choice);
//  2 installer ready: launch it, forget the folder, "I", end; a program that
//    cannot be started is named in a message and everything stays as it was;
//  3 download paused: resume it ("R");
//  4 download running: ask it to pause ("P");
//  5 folder gone: forget it and ask for another;
//  6 check finished: remember the folder, start the download thread, "S"/"B";
//  7 otherwise (a check is running): nothing.
// Runs on the user-interface thread, or on a check run for a returning user.
void OnStartButton();

// Confirms ("下载未完成,是否仍要关闭?"), halts the workers' effects on the
// window, removes ./setup.txt and ./update.txt, hides the window, and ends
// through the end routine ("C" unless the installer is ready). A cancelled
// question changes nothing. Returns only when cancelled.
void OnCloseButton();

// Lets the user choose the download folder ("请选择下载路径:") and, when one
// was chosen, starts a check run for it whose handle is kept in checkThread.
// User-interface thread.
void OnBrowseButton();

// Starts a check run on a new worker thread. keepHandle publishes it in
// DownloadSession::checkThread, as for a folder the user chose: the download
// thread then waits for it before it reads the plan. Any thread.
std::shared_ptr<WorkerThread> StartCheckRun(bool keepHandle = true);

// Whether a check run started through StartCheckRun is still running.
bool CheckRunActive();
