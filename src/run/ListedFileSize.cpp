#include "run/ListedFileSize.h"

#include "transfer/HttpDownloader.h"

std::uint64_t QueryListedFileSize(const std::string& url)
{
    // A failed query must not leave another file's size behind: unknown is 0.
    std::uint64_t size = 0;
    if (QueryRemoteSize(url, size) != DownloadOk)
        return 0;
    return size;
}
