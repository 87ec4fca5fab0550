#include "transfer/HttpClient.h"

#include <exception>
#include <chrono>
#include <cstdlib>
#include <strings.h>

#include <curl/curl.h>

#include "transfer/CurlCertificates.h"
#include "transfer/CurlGlobal.h"
#include "transfer/HttpRequestText.h"
#include "transfer/ProxyEnvironment.h"
#include "transfer/TransferError.h"

namespace {

constexpr long ConnectTimeoutMs = 5000;
constexpr int MaxRedirects = 10;
// The size curl reads from the socket at once. Measured against 16 KiB to
// 512 KiB on loopback: 64 KiB keeps the copies in cache and was fastest;
// the 512 KiB block is gathered from several of these.
constexpr long ReceiveBufferSize = 64 * 1024;
constexpr const char* UserAgent = "Zorvath Downloader";

CURL* Easy(void* handle) { return static_cast<CURL*>(handle); }
CURLM* Multi(void* handle) { return static_cast<CURLM*>(handle); }

bool IsHttpScheme(const char* scheme)
{
    return scheme != nullptr && (strcasecmp(scheme, "http") == 0 || strcasecmp(scheme, "https") == 0);
}

} // namespace

HttpClient::HttpClient()
{
    EnsureCurlGlobal();
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
    if (m_easy == nullptr || m_multi == nullptr) {
        if (m_easy != nullptr)
            curl_easy_cleanup(Easy(m_easy));
        if (m_multi != nullptr)
            curl_multi_cleanup(Multi(m_multi));
        m_easy = nullptr;
        m_multi = nullptr;
    }
}

HttpClient::~HttpClient()
{
    CloseRequest();
    if (m_multi != nullptr)
        curl_multi_cleanup(Multi(m_multi));
    if (m_easy != nullptr)
        curl_easy_cleanup(Easy(m_easy));
}

bool HttpClient::ParseUrl(const std::string& url)
{
    CURLU* parsed = curl_url();
    if (parsed == nullptr)
        return false;
    bool ok = false;
    char* scheme = nullptr;
    char* host = nullptr;
    char* path = nullptr;
    char* query = nullptr;
    char* port = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK
        && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && IsHttpScheme(scheme)
        && curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host[0] != '\0'
        && curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK
        && curl_url_get(parsed, CURLUPART_PATH, &path, 0) == CURLUE_OK) {
        m_strServer = host;
        m_strObject = path;
        if (curl_url_get(parsed, CURLUPART_QUERY, &query, 0) == CURLUE_OK && query != nullptr)
            m_strObject += std::string("?") + query;
        m_nPort = static_cast<std::uint16_t>(std::atoi(port));
        m_strUrl = url;
        ok = true;
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(path);
    curl_free(query);
    curl_free(port);
    curl_url_cleanup(parsed);
    return ok;
}

bool HttpClient::Connect(const std::string& url)
{
    CloseRequest();
    m_connectTimeoutMs = ConnectTimeoutMs;
    if (m_easy == nullptr)
        return false;
    return ParseUrl(url);
}

bool HttpClient::OpenUrl(const std::string& url)
{
    CloseRequest();
    // A size query waits no longer for a connection than a transfer does.
    m_connectTimeoutMs = ConnectTimeoutMs;
    if (m_easy == nullptr || !ParseUrl(url))
        return false;
    return SendGet(std::string(), false);
}

void HttpClient::ResetAnswer()
{
    m_answerHeaders.clear();
    m_status = 0;
    m_headersDone = false;
    m_redirectPending = false;
    m_redirectUrl.clear();
    m_done = false;
    m_failed = false;
    m_paused = false;
    m_sink = nullptr;
    m_sinkStopped = false;
    m_sinkError = nullptr;
}

void HttpClient::StartTransfer(const std::string& url, bool withBody)
{
    CURL* easy = Easy(m_easy);
    ResetAnswer();
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // Every request on a connection of its own, as the server expects of us.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    if (m_connectTimeoutMs > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, m_connectTimeoutMs);
    // Less than a byte per second for the whole stall time ends the transfer.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_stallSeconds);
    // A body we will not read is not checked either: a Content-Length that is
    // not a number must reach us as text instead of failing the request.
    curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, withBody ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpClient::OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpClient::OnBodyBytes);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    ApplyProxySettings(easy, url);
    ApplyCertificateSettings(easy);
    if (m_headerList != nullptr)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(m_headerList));
    curl_multi_add_handle(Multi(m_multi), easy);
    m_attached = true;
    m_lastActivity = std::chrono::steady_clock::now();
}

template <class Done>
void HttpClient::Drive(Done done)
{
    while (!done() && !m_done) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(Multi(m_multi), &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(Multi(m_multi), &left)) {
            if (message->msg == CURLMSG_DONE) {
                m_done = true;
                m_failed = message->data.result != CURLE_OK;
            }
        }
        if (code != CURLM_OK) {
            m_done = true;
            m_failed = true;
        }
        if (done() || m_done)
            break;
        curl_multi_poll(Multi(m_multi), nullptr, 0, 100, nullptr);
        // curl's own low-speed check averages over several seconds; this one
        // ends the transfer once nothing at all has come for the whole limit.
        if (std::chrono::steady_clock::now() - m_lastActivity >= std::chrono::seconds(m_stallSeconds)) {
            m_done = true;
            m_failed = true;
        }
    }
}

bool HttpClient::SendGet(const std::string& headers, bool withBody)
{
    CloseRequest();
    if (m_easy == nullptr || m_strUrl.empty())
        return false;

    curl_slist* list = nullptr;
    std::size_t from = 0;
    while (from < headers.size()) {
        auto end = headers.find("\r\n", from);
        if (end == std::string::npos)
            end = headers.size();
        if (end > from) {
            curl_slist* grown = curl_slist_append(list, headers.substr(from, end - from).c_str());
            if (grown == nullptr) {
                curl_slist_free_all(list);
                return false;
            }
            list = grown;
        }
        from = end + 2;
    }
    m_headerList = list;

    std::string url = m_strUrl;
    for (int hop = 0;; ++hop) {
        StartTransfer(url, withBody);
        Drive([this] { return m_headersDone || m_redirectPending; });
        if (!m_redirectPending)
            return m_headersDone;
        curl_multi_remove_handle(Multi(m_multi), Easy(m_easy));
        m_attached = false;
        if (hop == MaxRedirects)
            return false;
        // Location may be relative: resolve it against the URL of this hop.
        CURLU* parsed = curl_url();
        char* scheme = nullptr;
        char* next = nullptr;
        const bool allowed = parsed != nullptr
            && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK
            && curl_url_set(parsed, CURLUPART_URL, m_redirectUrl.c_str(), CURLU_URLENCODE) == CURLUE_OK
            && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && IsHttpScheme(scheme)
            && curl_url_get(parsed, CURLUPART_URL, &next, 0) == CURLUE_OK;
        if (allowed)
            url = next;
        curl_free(scheme);
        curl_free(next);
        curl_url_cleanup(parsed);
        if (!allowed)
            return false;
    }
}

void HttpClient::CloseRequest()
{
    if (m_attached) {
        curl_multi_remove_handle(Multi(m_multi), Easy(m_easy));
        m_attached = false;
    }
    if (m_headerList != nullptr) {
        if (m_easy != nullptr)
            curl_easy_setopt(Easy(m_easy), CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
        m_headerList = nullptr;
    }
    ResetAnswer();
}

bool HttpClient::QueryStatusCode(long& status) const
{
    if (!m_headersDone)
        return false;
    status = m_status;
    return true;
}

bool HttpClient::QueryHeader(const std::string& name, std::string& value) const
{
    return m_headersDone && QueryHeaderOfAnswer(name, value);
}

bool HttpClient::QueryHeaderOfAnswer(const std::string& name, std::string& value) const
{
    for (const auto& [key, text] : m_answerHeaders) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            value = text;
            return true;
        }
    }
    return false;
}

bool HttpClient::Receive(IBodySink& sink)
{
    if (!m_attached || !m_headersDone)
        throw TransferError(DownloadNetError);
    m_sink = &sink;
    m_lastActivity = std::chrono::steady_clock::now();
    if (m_paused && !m_done) {
        m_paused = false;
        // Hands over the held-back bytes at once, through OnBodyBytes.
        curl_easy_pause(Easy(m_easy), CURLPAUSE_CONT);
    }
    Drive([this] { return m_sinkStopped || m_sinkError != nullptr; });
    m_sink = nullptr;
    if (m_sinkError != nullptr)
        std::rethrow_exception(m_sinkError);
    if (m_sinkStopped)
        return false;
    if (m_failed)
        throw TransferError(DownloadNetError);
    return true;
}

std::size_t HttpClient::OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* client = static_cast<HttpClient*>(self);
    const std::size_t length = size * count;
    client->m_lastActivity = std::chrono::steady_clock::now();
    const std::string line(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new answer (an interim one, or the next hop): forget the last.
        client->m_answerHeaders.clear();
        return length;
    }
    if (line == "\r\n" || line == "\n") {
        long status = 0;
        curl_easy_getinfo(Easy(client->m_easy), CURLINFO_RESPONSE_CODE, &status);
        if (status < 200)
            return length;
        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            std::string location;
            if (client->QueryHeaderOfAnswer("Location", location) && !location.empty()) {
                client->m_redirectUrl = location;
                client->m_redirectPending = true;
                return 0; // ends this hop; SendGet goes on with the next
            }
        }
        client->m_status = status;
        client->m_headersDone = true;
        return length;
    }
    std::string name;
    std::string value;
    if (SplitHeaderLine(line, name, value))
        client->m_answerHeaders.emplace_back(std::move(name), std::move(value));
    return length;
}

std::size_t HttpClient::OnBodyBytes(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* client = static_cast<HttpClient*>(self);
    const std::size_t length = size * count;
    if (client->m_sink == nullptr) {
        // Nobody reads now: keep the bytes in curl until Receive.
        client->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    bool more = false;
    try {
        more = client->m_sink->OnBody(data, length);
    } catch (...) {
        // Exceptions must not cross libcurl; Receive raises it again.
        client->m_sinkError = std::current_exception();
        return 0;
    }
    // The sink's own time (a block written to disk) is not the server's stall.
    client->m_lastActivity = std::chrono::steady_clock::now();
    if (!more) {
        client->m_sinkStopped = true;
        return 0;
    }
    return length;
}
