#pragma once

#include <memory>

class WorkerThread;

// The main window's commands, free of widgets: the window binds them to its
// buttons, the check run asks for the start command through
// IDownloadWindow::RunStartCommand, and the console client calls them from
// its main loop. Every command runs on the thread that runs the user's
// commands (the user-interface thread), so two of them never overlap. They
// reach the window only through DownloadSession::mainWindow, end the process
// through EndRun, and keep no state of their own.

// The start button, its behaviour chosen on every call from the session:
//  1 no folder: ask for one (OK opens the folder choice);
//  2 installer ready: launch it, forget the folder, "I", end; a program that
//    cannot be started is named in a message and everything stays as it was;
//  3 download paused: resume it ("R");
//  4 download running: ask it to pause ("P");
//  5 folder gone: forget it and ask for another;
//  6 check finished: remember the folder, start the download thread, "S"/"B"
//    (one compare-and-set: a download run still going is never doubled);
//  7 otherwise (a check is running): nothing.
void OnStartButton();

// Confirms ("下载未完成,是否仍要关闭?"), halts the workers' effects on the
// window, removes ./setup.txt and ./update.txt, hides the window, and ends
// through the end routine ("C" unless the installer is ready). A cancelled
// question changes nothing. Returns only when cancelled.
void OnCloseButton();

// Lets the user choose the download folder ("请选择下载路径:") and, when one
// was chosen, starts a check run for it whose handle is kept in checkThread.
// Does nothing while a download run is going: no check run replaces the plan
// under it.
void OnBrowseButton();

// Starts a check run on a new worker thread. keepHandle publishes it in
// DownloadSession::checkThread, as for a folder the user chose: the download
// thread then waits for it before it reads the plan. Any thread.
std::shared_ptr<WorkerThread> StartCheckRun(bool keepHandle = true);

// Whether a check run started through StartCheckRun is still running.
bool CheckRunActive();
