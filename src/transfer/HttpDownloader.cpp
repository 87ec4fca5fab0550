#include "transfer/HttpDownloader.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <strings.h>

#include <fcntl.h>

#include "transfer/ContentHeaders.h"
#include "transfer/HttpRequestText.h"
#include "transfer/LocalFile.h"
#include "transfer/TransferError.h"
#include "transfer/UrlPath.h"

DownloadState QueryContentLength(const HttpClient& request, std::uint64_t& size)
{
    try {
        std::string text;
        if (request.QueryHeader("Content-Length", text))
            size = ParseContentLength(text);
        return DownloadOk;
    } catch (...) {
        size = 0;
        return DownloadSizeError;
    }
}

DownloadState HttpDownloader::Download(IDownloadState* state, const std::string& url, const std::string& localPath)
{
    return Download(state, url, UniqueFd(::open(localPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)));
}

DownloadState HttpDownloader::Download(IDownloadState* state, const std::string& url, UniqueFd localFile)
{
    m_pState = state != nullptr ? state : &DummyDownloadState::Instance();
    if (!m_client.IsOpen())
        return DownloadNetError;

    LocalFile file;
    if (!file.Adopt(std::move(localFile)))
        return DownloadFileError;

    DownloadState result = DownloadOk;
    try {
        result = Transfer(file, EncodeUrlPath(url));
    } catch (const TransferError& error) {
        result = error.State();
    } catch (const std::bad_alloc&) {
        result = DownloadFileError;
    }
    m_client.CloseRequest();
    file.Close();
    return result;
}

DownloadState HttpDownloader::Transfer(LocalFile& file, const std::string& url)
{
    std::uint64_t remoteSize = 0;
    if (!StartRequest(url, 0, 0, false))
        return DownloadNetError;
    // The probe's status does not matter: the ranged request decides.
    const auto sizeResult = QueryContentLength(m_client, remoteSize);
    if (sizeResult != DownloadOk)
        return sizeResult;

    std::uint64_t start = 0;
    if (remoteSize != 0) {
        const auto length = file.Length();
        if (length == remoteSize)
            return DownloadOk;
        // Longer than the file can be is no beginning of it: asking for a
        // range past the end would fail at every resume. Begin again.
        if (length > remoteSize)
            file.Truncate();
        else
            start = length;
    }
    m_client.CloseRequest();

    for (;;) {
        if (!StartRequest(url, start, remoteSize, true))
            return DownloadNetError;
        long status = 0;
        if (!m_client.QueryStatusCode(status) || (status != 200 && status != 206))
            return DownloadNetError;
        // We asked for the stored bytes; a server that encodes anyway would have
        // us write compressed bytes into the game file.
        std::string encoding;
        if (m_client.QueryHeader("Content-Encoding", encoding) && strcasecmp(encoding.c_str(), "identity") != 0)
            return DownloadNetError;
        if (status == 206) {
            std::string text;
            std::optional<ContentRange> range;
            if (m_client.QueryHeader("Content-Range", text))
                range = ParseContentRange(text);
            if (!RangeAnswersRequest(range, start, remoteSize)) {
                // Bytes from elsewhere, or of another file: a join would be
                // corrupt. Fetch the whole file once; a whole-file request
                // answered wrongly as well is a server fault.
                if (start == 0)
                    return DownloadNetError;
                m_client.CloseRequest();
                file.Truncate();
                start = 0;
                continue;
            }
        }
        if (status == 200) {
            // A 200 body is the whole file: never append it to bytes present.
            if (file.Length() > 0)
                file.Truncate();
        }
        return ReceiveToFile(file, remoteSize);
    }
}

bool HttpDownloader::StartRequest(const std::string& url, std::uint64_t rangeStart, std::uint64_t rangeEnd, bool withBody)
{
    std::string headers = FileRequestAcceptBlock();
    if (rangeStart != 0 || rangeEnd != 0)
        headers += RangeLine(rangeStart, rangeEnd);
    headers += FileRequestClientBlock();

    const bool ok = m_client.Connect(url) && m_client.SendGet(headers, withBody);
    if (!ok)
        m_client.CloseRequest();
    return ok;
}

namespace {

// Gathers the body into one 512 KiB block and hands each full block, and the
// last partial one, to the file: write, then ShouldStop, then OnProgress.
class BlockWriter final : public IBodySink {
public:
    BlockWriter(LocalFile& file, IDownloadState& state, std::uint64_t totalSize)
        // Uninitialised on purpose: only bytes received are ever written.
        : m_block(new char[TransferBlockSize]), m_file(file), m_state(state), m_totalSize(totalSize)
    {
    }

    bool OnBody(const char* data, std::size_t size) override
    {
        while (size > 0) {
            const auto take = std::min(size, TransferBlockSize - m_filled);
            std::memcpy(m_block.get() + m_filled, data, take);
            m_filled += take;
            data += take;
            size -= take;
            if (m_filled == TransferBlockSize && !WriteBlock())
                return false;
        }
        return true;
    }

    // The last, partial block. False when it was the stopping one.
    bool Finish() { return m_filled == 0 || WriteBlock(); }

    // What came before a failed body stays on disk, unreported.
    void Keep()
    {
        if (m_filled > 0)
            m_file.Write(m_block.get(), m_filled);
        m_filled = 0;
    }

private:
    bool WriteBlock()
    {
        const auto count = m_filled;
        m_file.Write(m_block.get(), count);
        m_filled = 0;
        if (m_state.ShouldStop() != 0)
            return false;
        m_state.OnProgress(m_totalSize, count);
        return true;
    }

    std::unique_ptr<char[]> m_block;
    std::size_t m_filled = 0;
    LocalFile& m_file;
    IDownloadState& m_state;
    std::uint64_t m_totalSize;
};

} // namespace

DownloadState HttpDownloader::ReceiveToFile(LocalFile& file, std::uint64_t totalSize)
{
    BlockWriter writer(file, *m_pState, totalSize);
    m_pState->OnBegin(totalSize, file.Length());
    file.SeekToEnd();
    bool ended = false;
    try {
        ended = m_client.Receive(writer);
    } catch (const TransferError& error) {
        if (error.State() == DownloadNetError)
            writer.Keep();
        throw;
    }
    if (!ended)
        return DownloadStopped;
    return writer.Finish() ? DownloadOk : DownloadStopped;
}

DownloadState QueryRemoteSize(const std::string& url, std::uint64_t& size)
{
    try {
        HttpClient client;
        if (!client.IsOpen() || !client.OpenUrl(EncodeUrlPath(url)))
            return DownloadNetError;
        long status = 0;
        if (!client.QueryStatusCode(status) || status != 200)
            return DownloadNetError;
        return QueryContentLength(client, size);
    } catch (const TransferError& error) {
        return error.State();
    } catch (const std::bad_alloc&) {
        return DownloadNetError;
    }
}
