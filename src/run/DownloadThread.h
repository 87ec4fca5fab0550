#pragma once

// The download run: fetches every file of the plan that the check run marked
// as needed, one after the other, and puts each in its final place only when
// it is complete and its digest equals the listed one (PartialFile).
//
// Every failure is shown as a message and recorded in the session as a
// FileOutcome, after which the run pauses itself (the session's
// PauseHandshake) until the start command resumes it; the failed step is
// then repeated. It ends only when every needed file is in place: then
// installerReady is 1, the start button shows the install face and the trace
// gets "D".
//
// Runs on the download thread, published by the start command. It keeps its
// own reference to the plan it started with. Returns 0.
int DownloadThreadProc();

// Index in the plan of the entry the download run is working on, or -1
// before the first one and after the last. Any thread may read it.
int CurrentDownloadEntry();
