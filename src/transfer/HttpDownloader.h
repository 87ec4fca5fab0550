#pragma once

#include <cstdint>
#include <string>

#include "transfer/DownloadState.h"
#include "transfer/HttpClient.h"

// Bytes per block: the transfer buffer and every write.
inline constexpr std::size_t TransferBlockSize = 524288;

// Fetches one URL into one local file, resuming a partial file with a Range
// request. Used on the download thread only; one per run.
class HttpDownloader {
public:
    // url: full http(s) URL (backslashes become '/', segments are
    // percent-encoded). state may be null (the do-nothing state is used).
    DownloadState Download(IDownloadState* state, const std::string& url, const std::string& localPath);

private:
    // (implementation detail: StartRequest, ReceiveToFile)
    IDownloadState* m_pState = nullptr;
    HttpClient m_client;
};

// Asks the server for a file's size with a plain GET; only status 200 with a
// Content-Length writes size. Returns DownloadOk, DownloadNetError,
// DownloadFileError or DownloadSizeError.
DownloadState QueryRemoteSize(const std::string& url, std::uint64_t& size);
