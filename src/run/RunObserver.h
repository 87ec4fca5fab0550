#pragma once

#include <cstdint>
#include <string>

#include "run/FileOutcome.h"

// Follows the download run file by file, for a client that tells more than
// the window shows (the console client's machine-readable output). The
// session holds at most one (DownloadSession::runObserver, none by default);
// the download thread calls it, so an observer must be safe to call from
// that thread while its own threads use it too, and must not block.
class IRunObserver {
public:
    virtual ~IRunObserver() = default;

    // A transfer of plan entry `entry` (full local path, size as listed or
    // learnt, 0 when unknown) is about to begin. A resumed file starts again.
    virtual void OnFileStarted(int entry, const std::string& path, std::uint64_t size) = 0;
    // That transfer ended: Placed, or why the file is not in place. A file
    // whose rename failed (FileInUse) ends once more, Placed, when the rename
    // succeeds after the player's resume.
    virtual void OnFileEnded(const FileOutcome& outcome) = 0;
};

// Hand an event to the session's observer, if it has one.
void ReportFileStarted(int entry, const std::string& path, std::uint64_t size);
void ReportFileEnded(const FileOutcome& outcome);
