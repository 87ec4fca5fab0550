#include "transfer/TransferEngine.h"

#include <algorithm>
#include <chrono>
#include <strings.h>
#include <utility>

#include <curl/curl.h>

#include "transfer/BodyBlocks.h"
#include "transfer/CurlCertificates.h"
#include "transfer/CurlGlobal.h"
#include "transfer/ContentHeaders.h"
#include "transfer/HttpRequestText.h"
#include "transfer/ProxyEnvironment.h"
#include "transfer/RedirectTarget.h"
#include "transfer/UrlPath.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MaxRedirects = 10;
// curl's read size; 64 KiB measured fastest on loopback (see HttpClient).
constexpr long ReceiveBufferSize = 64 * 1024;
constexpr const char* UserAgent = "Zorvath Downloader";
// A size query reads and drops an answer body up to this long instead of
// abandoning it, so that the connection stays open for the next query
// (abandoning an HTTP/1.1 body closes the connection).
constexpr std::uint64_t SizeQueryDrainLimit = 64 * 1024;

// Under a speed limit: the budget saved up while no job wants it, at most a
// tenth of a second's worth (one read at least), so that a pause is not
// followed by a burst.
double BudgetCap(double bytesPerSecond)
{
    return std::max(bytesPerSecond / 10.0, static_cast<double>(ReceiveBufferSize));
}

// Under a speed limit, smaller reads spread a slow rate over the jobs more
// evenly: a sixteenth of a second's worth, from curl's usual 16 KiB up to
// the 64 KiB of an unlimited run.
long LimitedReceiveBufferSize(std::uint64_t bytesPerSecond)
{
    return static_cast<long>(std::clamp<std::uint64_t>(bytesPerSecond / 16, 16 * 1024, ReceiveBufferSize));
}

CURLM* Multi(void* handle) { return static_cast<CURLM*>(handle); }
CURL* Easy(void* handle) { return static_cast<CURL*>(handle); }

bool IsRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

TransferFault FaultOfStatus(long status)
{
    if (status >= 500 && status < 600)
        return TransferFault::ServerError;
    if (status >= 400 && status < 500)
        return TransferFault::Refused;
    return TransferFault::BadAnswer;
}

} // namespace

struct TransferEngine::Job {
    enum class Phase { Size, Probe, Body };

    TransferEngine* engine = nullptr;
    TransferJobId id = 0;
    Phase phase = Phase::Body;
    std::string url; // of the current hop, on the wire
    int hops = 0;
    std::size_t sizeIndex = 0;
    // Size query asked again with the Content-Length left to us: curl refused
    // the answer's length (not a number), which we read as "unknown".
    bool lengthAsText = false;
    ITransferSink* sink = nullptr;
    std::uint64_t start = 0;     // the offset asked for in the body request
    std::uint64_t knownSize = 0; // 0: unknown

    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    Clock::time_point lastActivity;

    // The answer of the current hop.
    std::vector<std::pair<std::string, std::string>> headers;
    bool headersDone = false;
    bool redirecting = false;
    std::string location;

    bool ended = false;        // OnEnd was called (or the size stored)
    bool begun = false;        // OnBegin was called
    bool decided = false;      // the result is known before curl ends
    DownloadState verdict = DownloadOk;
    TransferFault fault = TransferFault::None; // what failed, when verdict says so
    bool sinkStopped = false;
    bool refetchWhole = false; // a 206 of other bytes: asked again from the start
    bool held = false; // paused by us until the speed limit allows more
    BodyBlocks blocks {TransferEngineBlockSize};
    // A size query's short body being kept (its length taken from the
    // budget), or a file job's body already in hand.
    std::uint64_t keepLength = 0;
    std::string keptBody;
    std::shared_ptr<const std::string> body;

    bool Header(const char* name, std::string& value) const
    {
        for (const auto& [key, text] : headers) {
            if (strcasecmp(key.c_str(), name) == 0) {
                value = text;
                return true;
            }
        }
        return false;
    }

    BodyBlocks::Emit ToSink()
    {
        // A stop asked meanwhile (from any thread) ends the job after this block.
        return [this](const char* data, std::size_t size) {
            return sink->OnBlock(data, size) && !engine->StopAsked(id);
        };
    }
};

TransferEngine::TransferEngine(TransferEngineOptions options) : m_options(std::move(options))
{
    m_options.connections = std::max(1, m_options.connections);
    EnsureCurlGlobal();
    CURLM* multi = curl_multi_init();
    if (multi == nullptr)
        return;
    const long connections = m_options.connections;
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, connections);
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, connections);
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, connections);
    m_multi = multi;
    m_budgetTime = Clock::now();
    if (m_options.maxBytesPerSecond != 0)
        m_budget = BudgetCap(static_cast<double>(m_options.maxBytesPerSecond));
}

TransferEngine::~TransferEngine()
{
    for (auto& job : m_active)
        Detach(*job);
    for (void* easy : m_spareEasy)
        curl_easy_cleanup(Easy(easy));
    if (m_multi != nullptr)
        curl_multi_cleanup(Multi(m_multi));
}

bool TransferEngine::IsOpen() const
{
    return m_multi != nullptr;
}

TransferJobId TransferEngine::Add(const TransferRequest& request, ITransferSink& sink)
{
    auto job = std::make_unique<Job>();
    job->engine = this;
    job->id = m_nextId++;
    job->phase = request.startOffset > 0 && request.knownSize == 0 && request.body == nullptr ? Job::Phase::Probe
                                                                                              : Job::Phase::Body;
    job->url = EncodeUrlPath(request.url);
    job->sink = &sink;
    job->start = request.startOffset;
    job->knownSize = request.body != nullptr ? request.body->size() : request.knownSize;
    job->body = request.body;
    const auto id = job->id;
    m_waiting.push_back(std::move(job));
    return id;
}

std::vector<RemoteSize> TransferEngine::QuerySizes(const std::vector<std::string>& urls, std::uint64_t keepBytes)
{
    std::vector<RemoteSize> results(urls.size());
    m_sizeResults = &results;
    m_keepLeft = keepBytes;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        auto job = std::make_unique<Job>();
        job->engine = this;
        job->id = m_nextId++;
        job->phase = Job::Phase::Size;
        job->url = EncodeUrlPath(urls[i]);
        job->sizeIndex = i;
        m_waiting.push_back(std::move(job));
    }
    Run();
    m_sizeResults = nullptr;
    m_keepLeft = 0;
    return results;
}

void TransferEngine::Stop(TransferJobId id)
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stopRequests.push_back(id);
    }
    m_stopPending = true;
    if (m_multi != nullptr)
        curl_multi_wakeup(Multi(m_multi));
}

void TransferEngine::StopAll()
{
    const TransferJobId below = m_nextId.load();
    TransferJobId current = m_stopBelow.load();
    while (current < below && !m_stopBelow.compare_exchange_weak(current, below)) {
    }
    m_stopPending = true;
    if (m_multi != nullptr)
        curl_multi_wakeup(Multi(m_multi));
}

bool TransferEngine::StopAsked(TransferJobId id)
{
    if (id < m_stopBelow.load())
        return true;
    if (!m_stopPending.load())
        return false;
    std::lock_guard lock(m_stopMutex);
    return std::find(m_stopRequests.begin(), m_stopRequests.end(), id) != m_stopRequests.end();
}

void TransferEngine::Start(Job& job)
{
    if (job.body != nullptr) {
        Deliver(job);
        return;
    }
    // A file already whole needs no request.
    if (job.phase == Job::Phase::Body && job.knownSize != 0 && job.start == job.knownSize) {
        Finish(job, DownloadOk);
        return;
    }
    if (m_multi == nullptr) {
        Fail(job, TransferFault::NoConnection);
        return;
    }
    if (job.easy == nullptr) {
        if (!m_spareEasy.empty()) {
            job.easy = Easy(m_spareEasy.back());
            m_spareEasy.pop_back();
        } else {
            job.easy = curl_easy_init();
        }
        if (job.easy == nullptr) {
            Fail(job, TransferFault::NoConnection);
            return;
        }
    }
    if (job.headerList == nullptr && job.phase != Job::Phase::Size) {
        // The header texts of every file request, in their order; the range
        // line only on the body request of a resumed file.
        std::string text = FileRequestAcceptBlock();
        if (job.phase == Job::Phase::Body && job.start > 0)
            text += OpenRangeLine(job.start);
        text += FileRequestClientBlock();
        std::size_t from = 0;
        while (from < text.size()) {
            const auto end = text.find("\r\n", from);
            job.headerList = curl_slist_append(job.headerList, text.substr(from, end - from).c_str());
            from = end + 2;
        }
    }

    CURL* easy = job.easy;
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, job.url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // h2 where an https server offers it (ALPN), HTTP/1.1 otherwise.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // https: wait for a connection being set up that may take one more
    // stream rather than open another. Never for http: there is nothing to
    // share, and each job would wait for the one before it.
    if (strncasecmp(job.url.c_str(), "https:", 6) == 0)
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent);
    const std::uint64_t limit = m_options.maxBytesPerSecond;
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, limit == 0 ? ReceiveBufferSize : LimitedReceiveBufferSize(limit));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, m_options.connectTimeoutMs);
    // A job we hold back for the speed limit is not slow: then only our own
    // stall check, which knows about holding, watches the server.
    if (limit == 0) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_options.stallSeconds);
    }
    // An answer we read only the headers of is not checked either: a
    // Content-Length that is not a number must reach us as text. A size
    // query first goes with the check on, so that a short body can be read
    // to its end; only an answer curl refuses is asked again without.
    const bool lengthAsText = job.phase == Job::Phase::Probe || (job.phase == Job::Phase::Size && job.lengthAsText);
    curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, lengthAsText ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &TransferEngine::OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &job);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TransferEngine::OnBodyBytes);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &job);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &job);
    if (job.headerList != nullptr)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job.headerList);
    // Each hop of a redirect chooses its own proxy (no_proxy may name its host).
    ApplyProxySettings(easy, job.url, m_options.proxy);
    ApplyCertificateSettings(easy);

    job.headers.clear();
    job.headersDone = false;
    job.held = false;
    job.redirecting = false;
    job.location.clear();
    job.lastActivity = Clock::now();
    if (curl_multi_add_handle(Multi(m_multi), easy) != CURLM_OK) {
        Fail(job, TransferFault::NoConnection);
        return;
    }
}

void TransferEngine::Deliver(Job& job)
{
    const std::string& body = *job.body;
    const std::uint64_t from = std::min<std::uint64_t>(job.start, body.size());
    job.begun = true;
    job.sink->OnBegin(body.size(), from);
    bool going = true;
    for (std::uint64_t at = from; going && at < body.size(); at += TransferEngineBlockSize) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(TransferEngineBlockSize, body.size() - at));
        going = job.sink->OnBlock(body.data() + at, size) && !StopAsked(job.id);
    }
    Finish(job, going ? DownloadOk : DownloadStopped);
}

void TransferEngine::Detach(Job& job)
{
    if (job.easy != nullptr) {
        curl_multi_remove_handle(Multi(m_multi), job.easy);
        long connects = 0;
        if (curl_easy_getinfo(job.easy, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK && connects > 0)
            m_stats.connectionsOpened += static_cast<std::uint64_t>(connects);
    }
}

void TransferEngine::Restart(Job& job)
{
    Detach(job);
    Start(job);
}

void TransferEngine::Fail(Job& job, TransferFault fault)
{
    job.fault = fault;
    Finish(job, DownloadNetError);
}

void TransferEngine::Finish(Job& job, DownloadState result)
{
    if (job.ended)
        return;
    job.ended = true;
    if (job.easy != nullptr) {
        Detach(job);
        // A handle ended while paused is not reused: it would start the next
        // job paused, with the last one's unread bytes.
        if (job.held) {
            curl_easy_cleanup(job.easy);
        } else {
            curl_easy_setopt(job.easy, CURLOPT_HTTPHEADER, nullptr);
            m_spareEasy.push_back(job.easy);
        }
        job.easy = nullptr;
        job.held = false;
    }
    curl_slist_free_all(job.headerList);
    job.headerList = nullptr;
    job.blocks.Release();
    job.body.reset();
    if (job.phase == Job::Phase::Size) {
        if (m_sizeResults != nullptr && result != DownloadOk)
            (*m_sizeResults)[job.sizeIndex] = RemoteSize {result, 0, nullptr};
        if (job.keepLength != 0 && m_sizeResults != nullptr && result == DownloadOk
            && job.keptBody.size() == job.keepLength)
            (*m_sizeResults)[job.sizeIndex].body = std::make_shared<const std::string>(std::move(job.keptBody));
        else
            m_keepLeft += job.keepLength;
        job.keepLength = 0;
        job.keptBody = std::string();
    } else {
        if (result == DownloadNetError)
            job.sink->OnFault(job.fault != TransferFault::None ? job.fault : TransferFault::NoConnection);
        job.sink->OnEnd(result);
    }
    job.sink = nullptr;
}

bool TransferEngine::HeadersDone(Job& job)
{
    long status = 0;
    curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &status);
    std::string text;
    switch (job.phase) {
    case Job::Phase::Size: {
        RemoteSize answer {DownloadNetError, 0, nullptr};
        if (status == 200) {
            answer.state = DownloadOk;
            if (job.Header("Content-Length", text))
                answer.size = ParseContentLength(text);
        }
        if (m_sizeResults != nullptr)
            (*m_sizeResults)[job.sizeIndex] = answer;
        job.decided = true;
        job.verdict = answer.state;
        // A short body of known length is read to keep the connection, and
        // kept while the budget lasts: it is then the file itself, unless it
        // came encoded.
        const bool drain = !job.lengthAsText && job.Header("Content-Length", text)
                           && ParseContentLength(text) <= SizeQueryDrainLimit;
        const bool encoded = job.Header("Content-Encoding", text) && strcasecmp(text.c_str(), "identity") != 0;
        if (drain && status == 200 && !encoded && answer.size > 0 && answer.size <= m_keepLeft) {
            m_keepLeft -= answer.size;
            job.keepLength = answer.size;
            job.keptBody.reserve(answer.size);
        }
        return drain;
    }
    case Job::Phase::Probe:
        // Its status does not matter: the body request decides.
        job.knownSize = job.Header("Content-Length", text) ? ParseContentLength(text) : 0;
        job.decided = true;
        job.verdict = DownloadOk;
        return false;
    case Job::Phase::Body:
        break;
    }

    if (status != 200 && status != 206) {
        job.decided = true;
        job.verdict = DownloadNetError;
        job.fault = FaultOfStatus(status);
        return false;
    }
    // We asked for the stored bytes; a server that encodes anyway would have
    // us write compressed bytes into the game file.
    if (job.Header("Content-Encoding", text) && strcasecmp(text.c_str(), "identity") != 0) {
        job.decided = true;
        job.verdict = DownloadNetError;
        job.fault = TransferFault::BadAnswer;
        return false;
    }
    std::uint64_t total = job.knownSize;
    std::uint64_t offset = job.start;
    if (status == 200) {
        // A 200 body is the whole file: never appended to bytes present.
        // Bytes present beyond the announced length are kept for the user.
        if (job.start > 0 && total != 0 && job.start > total) {
            job.decided = true;
            job.verdict = DownloadNetError;
            job.fault = TransferFault::BadAnswer;
            return false;
        }
        offset = 0;
        if (total == 0 && job.Header("Content-Length", text))
            total = ParseContentLength(text);
    } else {
        const auto range = job.Header("Content-Range", text) ? ParseContentRange(text) : std::nullopt;
        if (!RangeAnswersRequest(range, job.start, job.knownSize)) {
            // Bytes from elsewhere, or of another file: a join would be
            // corrupt. The whole file is asked for once; a whole-file
            // request answered so as well is the server's fault.
            job.decided = true;
            job.verdict = DownloadNetError;
            job.fault = TransferFault::BadAnswer;
            job.refetchWhole = job.start > 0;
            return false;
        }
        if (total == 0 && range->total)
            total = *range->total;
    }
    job.begun = true;
    job.sink->OnBegin(total, offset);
    return true;
}

std::size_t TransferEngine::OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self)
{
    auto& job = *static_cast<Job*>(self);
    const std::size_t length = size * count;
    job.lastActivity = Clock::now();
    const std::string line(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new answer (an interim one, or the next hop): forget the last.
        job.headers.clear();
        return length;
    }
    if (line == "\r\n" || line == "\n") {
        long status = 0;
        curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200)
            return length;
        if (IsRedirect(status) && job.Header("Location", job.location) && !job.location.empty()) {
            // Its body is read and dropped so that the connection stays usable.
            job.redirecting = true;
            return length;
        }
        job.headersDone = true;
        return job.engine->HeadersDone(job) ? length : 0;
    }
    std::string name;
    std::string value;
    if (SplitHeaderLine(line, name, value))
        job.headers.emplace_back(std::move(name), std::move(value));
    return length;
}

std::size_t TransferEngine::OnBodyBytes(char* data, std::size_t size, std::size_t count, void* self)
{
    auto& job = *static_cast<Job*>(self);
    const std::size_t length = size * count;
    job.lastActivity = Clock::now();
    if (!job.redirecting && job.keepLength != 0) {
        // A body kept is a file fetched: it spends the speed limit's budget.
        if (!job.engine->TakeBudget(job, length))
            return CURL_WRITEFUNC_PAUSE;
        // More than announced: nothing of it is trusted.
        if (job.keptBody.size() + length > job.keepLength) {
            job.engine->m_keepLeft += job.keepLength;
            job.keepLength = 0;
            job.keptBody = std::string();
        } else {
            job.keptBody.append(data, length);
        }
    }
    if (job.redirecting || job.phase == Job::Phase::Size)
        return length;
    if (job.phase != Job::Phase::Body || !job.begun || job.decided)
        return 0;
    // curl keeps these bytes and hands them again once we release the job.
    if (!job.engine->TakeBudget(job, length))
        return CURL_WRITEFUNC_PAUSE;
    if (!job.blocks.Add(data, length, job.ToSink())) {
        job.sinkStopped = true;
        return 0;
    }
    // The sink's own time (a block written to disk) is not the server's stall.
    job.lastActivity = Clock::now();
    return length;
}

void TransferEngine::OnTransferDone(Job& job, int curlCode)
{
    const bool curlOk = curlCode == CURLE_OK;
    if (job.redirecting) {
        std::string next;
        if (++job.hops > MaxRedirects || !ResolveRedirect(job.url, job.location, next)) {
            Fail(job, TransferFault::BadAnswer);
            return;
        }
        job.url = next;
        Restart(job);
        return;
    }
    switch (job.phase) {
    case Job::Phase::Size:
        if (!job.headersDone && !job.lengthAsText && curlCode == CURLE_WEIRD_SERVER_REPLY) {
            job.lengthAsText = true;
            Restart(job);
            return;
        }
        Finish(job, job.headersDone ? job.verdict : DownloadNetError);
        return;
    case Job::Phase::Probe: {
        if (!job.headersDone) {
            Fail(job, TransferFault::NoConnection);
            return;
        }
        // Without a length the file is fetched again from its start.
        if (job.knownSize == 0)
            job.start = 0;
        else if (job.start == job.knownSize) {
            Finish(job, DownloadOk);
            return;
        }
        job.phase = Job::Phase::Body;
        job.decided = false;
        job.hops = 0;
        curl_slist_free_all(job.headerList);
        job.headerList = nullptr;
        Restart(job);
        return;
    }
    case Job::Phase::Body:
        break;
    }
    if (job.sinkStopped) {
        Finish(job, DownloadStopped);
        return;
    }
    if (job.refetchWhole) {
        job.refetchWhole = false;
        job.decided = false;
        job.fault = TransferFault::None;
        job.start = 0;
        job.hops = 0;
        curl_slist_free_all(job.headerList);
        job.headerList = nullptr;
        Restart(job);
        return;
    }
    if (job.decided) {
        Finish(job, job.verdict);
        return;
    }
    if (!job.headersDone) {
        Fail(job, TransferFault::NoConnection);
        return;
    }
    if (!curlOk) {
        // What came before the failure stands.
        job.blocks.Flush(job.ToSink());
        Fail(job, curlCode == CURLE_OPERATION_TIMEDOUT ? TransferFault::Stalled : TransferFault::CutShort);
        return;
    }
    Finish(job, job.blocks.Flush(job.ToSink()) ? DownloadOk : DownloadStopped);
}

bool TransferEngine::TakeBudget(Job& job, std::size_t bytes)
{
    if (m_options.maxBytesPerSecond == 0)
        return true;
    if (m_budget <= 0)
        RefillBudget();
    if (m_budget <= 0) {
        job.held = true;
        return false;
    }
    m_budget -= static_cast<double>(bytes);
    return true;
}

void TransferEngine::RefillBudget()
{
    const auto now = Clock::now();
    const double rate = static_cast<double>(m_options.maxBytesPerSecond);
    const double seconds = std::chrono::duration<double>(now - m_budgetTime).count();
    m_budgetTime = now;
    m_budget = std::min(m_budget + seconds * rate, BudgetCap(rate));
}

void TransferEngine::ReleaseHeldJobs()
{
    if (m_options.maxBytesPerSecond == 0 || m_active.empty())
        return;
    RefillBudget();
    // Round by round from where the last one stopped, so that no job is
    // always last to get the budget.
    const std::size_t count = m_active.size();
    for (std::size_t i = 0; i < count && m_budget > 0; ++i) {
        const std::size_t index = (m_releaseFrom + i) % count;
        Job& job = *m_active[index];
        if (job.ended || !job.held || job.easy == nullptr)
            continue;
        job.held = false;
        job.lastActivity = Clock::now();
        m_releaseFrom = index + 1;
        // curl hands the kept bytes to OnBodyBytes from within this call,
        // which may hold the job again.
        curl_easy_pause(job.easy, CURLPAUSE_CONT);
    }
}

long TransferEngine::MillisecondsUntilBudget() const
{
    if (m_options.maxBytesPerSecond == 0 || m_budget > 0)
        return 0;
    const double seconds = -m_budget / static_cast<double>(m_options.maxBytesPerSecond);
    return static_cast<long>(seconds * 1000.0) + 1;
}

void TransferEngine::ApplyStops()
{
    if (!m_stopPending.exchange(false))
        return;
    std::vector<TransferJobId> asked;
    {
        std::lock_guard lock(m_stopMutex);
        asked.swap(m_stopRequests);
    }
    const auto below = m_stopBelow.load();
    const auto stopped = [&](const Job& job) {
        return job.id < below || std::find(asked.begin(), asked.end(), job.id) != asked.end();
    };
    for (auto& job : m_active) {
        if (job->ended || !stopped(*job))
            continue;
        if (job->begun)
            job->blocks.Flush(job->ToSink());
        Finish(*job, DownloadStopped);
    }
    for (std::size_t i = m_nextWaiting; i < m_waiting.size(); ++i) {
        if (!m_waiting[i]->ended && stopped(*m_waiting[i]))
            Finish(*m_waiting[i], DownloadStopped);
    }
}

void TransferEngine::Run()
{
    try {
        Drive();
    } catch (...) {
        DropAll();
        throw;
    }
}

void TransferEngine::DropAll()
{
    const auto drop = [this](Job& job) {
        if (job.easy != nullptr) {
            Detach(job);
            curl_easy_cleanup(job.easy);
            job.easy = nullptr;
        }
        curl_slist_free_all(job.headerList);
        job.headerList = nullptr;
        if (job.keepLength != 0)
            m_keepLeft += job.keepLength;
    };
    for (auto& job : m_active)
        drop(*job);
    for (std::size_t i = m_nextWaiting; i < m_waiting.size(); ++i)
        drop(*m_waiting[i]);
    m_active.clear();
    m_waiting.clear();
    m_nextWaiting = 0;
}

void TransferEngine::Drive()
{
    const auto ended = [](const std::unique_ptr<Job>& job) { return job->ended; };
    const auto stall = std::chrono::seconds(m_options.stallSeconds);
    for (;;) {
        ApplyStops();
        m_active.erase(std::remove_if(m_active.begin(), m_active.end(), ended), m_active.end());
        // Start waiting jobs while there is room; one that ends at once (no
        // handle, stopped before it started) makes room again.
        while (m_active.size() < static_cast<std::size_t>(m_options.connections) && m_nextWaiting < m_waiting.size()) {
            auto job = std::move(m_waiting[m_nextWaiting++]);
            if (job->ended)
                continue;
            Start(*job);
            if (!job->ended)
                m_active.push_back(std::move(job));
        }
        if (m_nextWaiting == m_waiting.size()) {
            m_waiting.clear();
            m_nextWaiting = 0;
        }
        if (m_active.empty() && m_waiting.empty())
            return;

        int running = 0;
        curl_multi_perform(Multi(m_multi), &running);
        int left = 0;
        bool someEnded = false;
        while (CURLMsg* message = curl_multi_info_read(Multi(m_multi), &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Job* job = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
            if (job != nullptr) {
                long version = 0;
                if (job->phase == Job::Phase::Body && job->headersDone
                    && curl_easy_getinfo(job->easy, CURLINFO_HTTP_VERSION, &version) == CURLE_OK
                    && version == CURL_HTTP_VERSION_2_0)
                    ++m_stats.http2Answers;
                OnTransferDone(*job, message->data.result);
                someEnded = true;
            }
        }
        ReleaseHeldJobs();
        // curl's own low-speed check averages over several seconds; this one
        // ends a job once nothing at all has come for the whole limit. A job
        // we hold is waiting for us, not for the server.
        const auto now = Clock::now();
        bool anyHeld = false;
        for (auto& job : m_active) {
            if (job->held && !job->ended) {
                anyHeld = true;
                job->lastActivity = now;
                continue;
            }
            if (!job->ended && now - job->lastActivity >= stall) {
                if (job->begun && !job->decided)
                    job->blocks.Flush(job->ToSink());
                Fail(*job, TransferFault::Stalled);
            }
        }
        // Room made: start the next jobs now, not after the next answer.
        if (someEnded || std::all_of(m_active.begin(), m_active.end(), ended))
            continue;
        // A held job's connection is not watched by curl: wake when the
        // budget allows it more.
        const long waitMs = anyHeld ? std::clamp(MillisecondsUntilBudget(), 1L, 100L) : 100L;
        curl_multi_poll(Multi(m_multi), nullptr, 0, static_cast<int>(waitMs), nullptr);
    }
}
