#pragma once

#include <atomic>
#include <chrono>
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
    // environment says; empty: the proxy variables of the environment, as
    // ProxyForUrl reads them, for each request.
    std::string proxy;
    // Bytes per second of file bodies over all jobs together; 0: no limit.
    // A job is held (its connection not read) while the shared budget is
    // spent; held time is not a stall.
    std::uint64_t maxBytesPerSecond = 0;
};

// The answer to one size query. state DownloadOk: status 200; size is the
// Content-Length (0 when absent or not a number). Else DownloadNetError (no
// answer, another status) or DownloadStopped; size 0. body: the whole answer
// body when it was short and kept (see QuerySizes), else null.
struct RemoteSize {
    DownloadState state = DownloadNetError;
    std::uint64_t size = 0;
    std::shared_ptr<const std::string> body;
};

// One file to fetch into a sink. startOffset: bytes already present (asked
// for with "Range: bytes=N-"). knownSize: the file's length when the caller
// knows it, else 0; a resumed job (startOffset > 0) of unknown size first
// sends a probe GET, abandoned after its headers, to learn it. body: the
// whole file, already received (a size query's kept body); the job then
// hands its bytes from startOffset on to the sink and sends no request.
struct TransferRequest {
    std::string url;
    std::uint64_t startOffset = 0;
    std::uint64_t knownSize = 0;
    std::shared_ptr<const std::string> body;
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
    // short (64 KiB at most) and of known length: then it is read so that the
    // connection serves the next query, and kept in the answer while the
    // bodies kept come to no more than keepBytes in all (dropped beyond).
    // Blocks until all are answered; runs any file jobs added before as well.
    // Results in the order of urls.
    std::vector<RemoteSize> QuerySizes(const std::vector<std::string>& urls, std::uint64_t keepBytes = 0);

    // Queues a file job (url as listed: backslashes and unsafe bytes are
    // encoded). It starts in Run. sink is called from Run only.
    TransferJobId Add(const TransferRequest& request, ITransferSink& sink);

    // Drives all jobs until each has ended (OnEnd called). A sink may Add or
    // Stop jobs from its calls. When a sink throws, every job not ended is
    // dropped without a further sink call and the exception goes on: the
    // next Run starts clean.
    void Run();

    // Ends a job at its next block: bytes gathered are delivered, then
    // OnEnd(DownloadStopped). A job not yet started ends without OnBegin.
    // Any thread; a job already ended is left alone.
    void Stop(TransferJobId id);
    // Stop for every job added so far (jobs added later run normally).
    void StopAll();

    TransferEngineStats Stats() const { return m_stats; }
    // The options it was made with (connections at least 1).
    const TransferEngineOptions& Options() const { return m_options; }

private:
    struct Job;
    void Start(Job& job);
    void Deliver(Job& job);
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
    void DropAll();
    bool TakeBudget(Job& job, std::size_t bytes);
    void RefillBudget();
    void ReleaseHeldJobs();
    long MillisecondsUntilBudget() const;
    static std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* job);
    static std::size_t OnBodyBytes(char* data, std::size_t size, std::size_t count, void* job);

    TransferEngineOptions m_options;
    void* m_multi = nullptr; // CURLM*
    std::vector<void*> m_spareEasy; // CURL* handles kept for the next jobs
    std::vector<std::unique_ptr<Job>> m_waiting; // in the order added
    std::vector<std::unique_ptr<Job>> m_active;
    std::size_t m_nextWaiting = 0;
    std::vector<RemoteSize>* m_sizeResults = nullptr;
    std::uint64_t m_keepLeft = 0; // bytes of short size-query bodies still to keep
    TransferEngineStats m_stats;

    // The shared budget of the speed limit, in bytes: may run below zero by
    // the last piece taken, which the next refills pay back.
    double m_budget = 0;
    std::chrono::steady_clock::time_point m_budgetTime;
    std::size_t m_releaseFrom = 0; // where the next release round starts, for fairness

    std::atomic<TransferJobId> m_nextId {1};
    std::atomic<TransferJobId> m_stopBelow {0}; // jobs with a smaller id are stopped
    std::mutex m_stopMutex;
    std::vector<TransferJobId> m_stopRequests;
    std::atomic<bool> m_stopPending {false};
};
