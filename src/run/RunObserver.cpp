#include "run/RunObserver.h"

#include "run/DownloadSession.h"

void ReportFileStarted(int entry, const std::string& path, std::uint64_t size)
{
    if (IRunObserver* observer = g_downloadSession.runObserver.load())
        observer->OnFileStarted(entry, path, size);
}

void ReportFileEnded(const FileOutcome& outcome)
{
    if (IRunObserver* observer = g_downloadSession.runObserver.load())
        observer->OnFileEnded(outcome);
}
