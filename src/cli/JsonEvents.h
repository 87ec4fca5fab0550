#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "run/FileOutcome.h"
#include "run/RunObserver.h"

class JsonObject;

// The run's phase as the machine-readable output names it. Stable values.
enum class RunPhase : int { Checking = 0, Downloading = 1, Paused = 2, Done = 3, Failed = 4 };

// "checking", "downloading", "paused", "done", "failed".
const char* PhaseWord(RunPhase phase);
// The stable word for how a file ended: "ok", "digest-mismatch", ...
const char* OutcomeWord(FileResult result);

// Where the download stands, for a progress event.
struct ProgressFigures {
    int filesDone = 0;
    int filesTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::uint64_t bytesPerSecond = 0;
};

// The console client's --json output: one event object per line on the
// given descriptor (standard output), each with "event" and the run's
// "phase" as last set, and nothing else on it. The client sets the phase
// and sends the progress from its main loop; the console window sends what
// the window would show; the download thread reports files through the
// observer interface; the end routine sends the result.
//
// Any thread may call every operation: each line is written whole, in the
// order of the calls. After End nothing more is written.
class JsonEvents final : public IRunObserver {
public:
    explicit JsonEvents(int fd);

    // A "phase" event when the phase changes.
    void SetPhase(RunPhase phase);
    void Progress(const ProgressFigures& figures);
    // What the window shows in a field: event "status", "version" or "folder".
    void Text(const char* event, const std::string& utf8Text);
    // A message box and how the client answered it.
    void Message(const std::string& utf8Text, const std::string& caption, bool okCancel, bool answeredOk);
    // The last phase ("done" for status 0, else "failed") and the result.
    void End(int exitStatus);

    // Files placed by the download run so far.
    int FilesPlaced() const { return m_placed; }

    void OnFileStarted(int entry, const std::string& path, std::uint64_t size) override;
    void OnFileEnded(const FileOutcome& outcome) override;

private:
    JsonObject EventLocked(const char* name) const;
    void WriteLocked(const JsonObject& object);
    void SetPhaseLocked(RunPhase phase);

    const int m_fd;
    std::atomic<int> m_placed{0};
    mutable std::mutex m_mutex;
    RunPhase m_phase = RunPhase::Checking;
    bool m_phaseSent = false;
    bool m_ended = false;
};
