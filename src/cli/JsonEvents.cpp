#include "cli/JsonEvents.h"

#include "cli/JsonWriter.h"
#include "platform/AtomicFile.h"
#include "run/DownloadSession.h"

namespace {

// The name below the download folder, '/' between folders.
std::string RelativeName(const std::string& path)
{
    const std::string folder = g_downloadSession.DownloadFolder();
    if (!folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0)
        return path.substr(folder.size());
    return path;
}

} // namespace

const char* PhaseWord(RunPhase phase)
{
    switch (phase) {
    case RunPhase::Checking: return "checking";
    case RunPhase::Downloading: return "downloading";
    case RunPhase::Paused: return "paused";
    case RunPhase::Done: return "done";
    case RunPhase::Failed: return "failed";
    }
    return "failed";
}

const char* OutcomeWord(FileResult result)
{
    switch (result) {
    case FileResult::Placed: return "ok";
    case FileResult::NetworkFailed: return "network-error";
    case FileResult::DiskFailed: return "disk-error";
    case FileResult::Stopped: return "stopped";
    case FileResult::SizeFailed: return "size-error";
    case FileResult::WrongDigest: return "digest-mismatch";
    case FileResult::FileInUse: return "file-in-use";
    case FileResult::NotAFile: return "not-a-file";
    case FileResult::Failed: return "failed";
    }
    return "failed";
}

JsonEvents::JsonEvents(int fd) : m_fd(fd) {}

JsonObject JsonEvents::EventLocked(const char* name) const
{
    JsonObject object;
    object.Add("event", name).Add("phase", PhaseWord(m_phase));
    return object;
}

void JsonEvents::WriteLocked(const JsonObject& object)
{
    if (m_ended)
        return;
    // A reader that went away: the run goes on without it.
    WriteWholly(m_fd, object.Line());
}

void JsonEvents::SetPhaseLocked(RunPhase phase)
{
    if (m_phaseSent && phase == m_phase)
        return;
    m_phase = phase;
    m_phaseSent = true;
    WriteLocked(EventLocked("phase"));
}

void JsonEvents::SetPhase(RunPhase phase)
{
    std::lock_guard lock(m_mutex);
    SetPhaseLocked(phase);
}

void JsonEvents::Progress(const ProgressFigures& figures)
{
    std::lock_guard lock(m_mutex);
    JsonObject object = EventLocked("progress");
    object.Add("files_done", figures.filesDone)
        .Add("files_total", figures.filesTotal)
        .Add("bytes_done", figures.bytesDone)
        .Add("bytes_total", figures.bytesTotal)
        .Add("speed", figures.bytesPerSecond);
    WriteLocked(object);
}

void JsonEvents::Text(const char* event, const std::string& utf8Text)
{
    std::lock_guard lock(m_mutex);
    JsonObject object = EventLocked(event);
    object.Add("text", utf8Text);
    WriteLocked(object);
}

void JsonEvents::Message(const std::string& utf8Text, const std::string& caption, bool okCancel, bool answeredOk)
{
    std::lock_guard lock(m_mutex);
    JsonObject object = EventLocked("message");
    object.Add("text", utf8Text);
    if (!caption.empty())
        object.Add("caption", caption);
    object.Add("buttons", okCancel ? "ok-cancel" : "ok").Add("answer", answeredOk ? "ok" : "cancel");
    WriteLocked(object);
}

void JsonEvents::End(int exitStatus)
{
    std::lock_guard lock(m_mutex);
    SetPhaseLocked(exitStatus == 0 ? RunPhase::Done : RunPhase::Failed);
    JsonObject object = EventLocked("result");
    object.Add("exit", exitStatus);
    WriteLocked(object);
    m_ended = true;
}

void JsonEvents::OnFileStarted(int entry, const std::string& path, std::uint64_t size)
{
    const std::string name = RelativeName(path);
    std::lock_guard lock(m_mutex);
    JsonObject object = EventLocked("file-start");
    object.Add("entry", entry).Add("name", name).Add("size", size);
    WriteLocked(object);
}

void JsonEvents::OnFileEnded(const FileOutcome& outcome)
{
    if (outcome.result == FileResult::Placed)
        ++m_placed;
    const std::string name = RelativeName(outcome.path);
    std::lock_guard lock(m_mutex);
    JsonObject object = EventLocked("file-end");
    object.Add("entry", outcome.entry).Add("name", name).Add("outcome", OutcomeWord(outcome.result));
    WriteLocked(object);
}
