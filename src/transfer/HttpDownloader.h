#pragma once

#include <cstdint>
#include <string>

#include "platform/UniqueFd.h"
#include "transfer/DownloadState.h"
#include "transfer/HttpClient.h"

class LocalFile;

// Bytes per block: the transfer buffer and every write.
inline constexpr std::size_t TransferBlockSize = 524288;

// Fetches one URL into one local file, resuming a partial file with a Range
// request. Used on the download thread only; one per run, its session lives
// as long as it does.
class HttpDownloader {
public:
    // url: full http(s) URL (backslashes become '/', segments are
    // percent-encoded). state may be null (the do-nothing state is used).
    // Per file: a probe GET abandoned after its headers gives the size, then
    // a ranged GET appends the rest in 512 KiB blocks (write, ShouldStop,
    // OnProgress). Bytes written stay in the file whatever the result.
    DownloadState Download(IDownloadState* state, const std::string& url, const std::string& localPath);
    // The same into a file already open for writing (the partial file reached
    // beneath the download folder); the file is closed when it returns.
    DownloadState Download(IDownloadState* state, const std::string& url, UniqueFd localFile);

    // A transfer that receives nothing for this long ends with
    // DownloadNetError (30 s unless changed; tests shorten it).
    void SetStallSeconds(long seconds) { m_client.SetStallSeconds(seconds); }

private:
    // Sends a GET with the fixed header texts; a Range line when rangeStart
    // or rangeEnd is not 0. True when the answer headers arrived.
    bool StartRequest(const std::string& url, std::uint64_t rangeStart, std::uint64_t rangeEnd, bool withBody);
    // Writes the body into the file in whole blocks. DownloadOk or
    // DownloadStopped; failures travel as TransferError.
    DownloadState ReceiveToFile(LocalFile& file, std::uint64_t totalSize);
    DownloadState Transfer(LocalFile& file, const std::string& url);

    IDownloadState* m_pState = nullptr;
    HttpClient m_client;
};

// Reads the answer's Content-Length into size (left as it was when absent; a
// text that is not a number gives 0). DownloadOk or DownloadSizeError.
DownloadState QueryContentLength(const HttpClient& request, std::uint64_t& size);

// Asks the server for a file's size with a plain GET; only status 200 with a
// Content-Length writes size. Returns DownloadOk, DownloadNetError,
// DownloadFileError or DownloadSizeError. Any thread; a session of its own.
DownloadState QueryRemoteSize(const std::string& url, std::uint64_t& size);
