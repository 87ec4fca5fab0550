#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/DownloadState.h"
#include "transfer/TransferSink.h"

// Largest block a sink is handed.
inline constexpr std::size_t TransferEngineBlockSize = 524288;

struct TransferEngineOptions {
    // Connections open at once, over all servers. Also the number of jobs in
    // flight: 1 runs the jobs strictly one after another, in the order added.
    int connections = 6;
    // A job that receives nothing for this long ends with DownloadNetError.
    long stallSeconds = 30;
    long connectTimeoutMs = 5000;
    // "http://host:port" of an HTTP proxy for every request, whatever the
    // environment says; empty: curl's usual environment (http_proxy, no_proxy).
    std::string proxy;
};

// The answer to one size query. state DownloadOk: status 200; size is the
// Content-Length (0 when absent or not a number). Else DownloadNetError (no
// answer, another status) or DownloadStopped; size 0.
struct RemoteSize {
    DownloadState state = DownloadNetError;
    std::uint64_t size = 0;
};

// One file to fetch into a sink. startOffset: bytes already present (asked
// for with "Range: bytes=N-"). knownSize: the file's length when the caller
// knows it, else 0; a resumed job (startOffset > 0) of unknown size first
// sends a probe GET, abandoned after its headers, to learn it.
struct TransferRequest {
    std::string url;
    std::uint64_t startOffset = 0;
    std::uint64_t knownSize = 0;
};

using TransferJobId = std::uint64_t;

// What the engine saw, for tests and benchmarks.
struct TransferEngineStats {
    std::uint64_t connectionsOpened = 0; // new connections curl made
    std::uint64_t http2Answers = 0;      // file bodies that came over HTTP/2
};

// Many HTTP transfers on one curl multi handle: keep-alive connections reused
// from job to job, HTTP/2 multiplexing where an https server offers it, at
// most options.connections connections. The engine has no thread of its own:
// the caller's thread drives it in Run (or QuerySizes), and every sink call
// happens there, as the download run's progress and stop calls always have.
// Stop and StopAll may be called from any thread; everything else from the
// driving thread only. libcurl's codes never leave the engine.
class TransferEngine {
public:
    explicit TransferEngine(TransferEngineOptions options = {});
    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // False when curl could not be set up; every job then ends DownloadNetError.
    bool IsOpen() const;

    // Asks for each URL's size with a plain GET (no extra headers), many at
    // once. The body is abandoned after the answer headers, unless it is
    // short (64 KiB at most) and of known length: then it is read and dropped
    // so that the connection serves the next query. Blocks until all are answered;
    // runs any file jobs added before as well. Results in the order of urls.
    std::vector<RemoteSize> QuerySizes(const std::vector<std::string>& urls);

    // Queues a file job (url as listed: backslashes and unsafe bytes are
    // encoded). It starts in Run. sink is called from Run only.
    TransferJobId Add(const TransferRequest& request, ITransferSink& sink);

    // Drives all jobs until each has ended (OnEnd called). A sink may Add or
    // Stop jobs from its calls.
    void Run();

    // Ends a job at its next block: bytes gathered are delivered, then
    // OnEnd(DownloadStopped). A job not yet started ends without OnBegin.
    // Any thread; a job already ended is left alone.
    void Stop(TransferJobId id);
    // Stop for every job added so far (jobs added later run normally).
    void StopAll();

    TransferEngineStats Stats() const { return m_stats; }

private:
    struct Job;
    void Start(Job& job);
    void Restart(Job& job);
    void Finish(Job& job, DownloadState result);
    // Finish with DownloadNetError, telling the sink what failed.
    void Fail(Job& job, TransferFault fault);
    void Detach(Job& job);
    void OnTransferDone(Job& job, int curlCode);
    void ApplyStops();
    bool StopAsked(TransferJobId id);
    bool HeadersDone(Job& job);
    void Drive();
    static std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* job);
    static std::size_t OnBodyBytes(char* data, std::size_t size, std::size_t count, void* job);

    TransferEngineOptions m_options;
    void* m_multi = nullptr; // CURLM*
    std::vector<void*> m_spareEasy; // CURL* handles kept for the next jobs
    std::vector<std::unique_ptr<Job>> m_waiting; // in the order added
    std::vector<std::unique_ptr<Job>> m_active;
    std::size_t m_nextWaiting = 0;
    std::vector<RemoteSize>* m_sizeResults = nullptr;
    TransferEngineStats m_stats;

    std::atomic<TransferJobId> m_nextId {1};
    std::atomic<TransferJobId> m_stopBelow {0}; // jobs with a smaller id are stopped
    std::mutex m_stopMutex;
    std::vector<TransferJobId> m_stopRequests;
    std::atomic<bool> m_stopPending {false};
};
