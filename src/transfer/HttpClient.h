#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <exception>

// Takes a body's bytes as they arrive (pieces of up to 64 KiB).
class IBodySink {
public:
    virtual ~IBodySink() = default;
    // False ends the transfer.
    virtual bool OnBody(const char* data, std::size_t size) = 0;
};

// One HTTP session on libcurl: an easy handle (made with the object, cleaned
// up with it) driven step by step through a multi handle, so that a GET can
// stop after its answer headers and its body be read later, or never.
// Redirects (301, 302, 303, 307, 308; at most 10 hops; http and https only)
// are followed here; the status and headers seen are those of the final
// answer. Used by one thread at a time. libcurl's codes never leave this
// class: Receive raises TransferError(DownloadNetError), the rest answer bool.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // False when the session could not be created.
    bool IsOpen() const { return m_easy != nullptr; }

    // A transfer that receives nothing for this many seconds fails (default 30).
    void SetStallSeconds(long seconds) { m_stallSeconds = seconds; }

    // Closes any request, sets the 5 s connect time-out and takes the URL
    // apart. True when the URL is an http or https URL with a host.
    bool Connect(const std::string& url);
    // Sends a GET for the URL of the last Connect with the given header text
    // ("Name: value\r\n" lines, sent in that order) and waits for the final
    // answer's headers. withBody false: the body will not be read, so its
    // framing is not checked. True when the answer headers arrived.
    bool SendGet(const std::string& headers, bool withBody);
    // Connect (with its 5 s connect time-out), then SendGet with no extra
    // headers and no body: the stand-alone size query.
    bool OpenUrl(const std::string& url);
    // Ends the current request, if any; an unread body is abandoned.
    void CloseRequest();

    // Status of the final answer; false when there is none.
    bool QueryStatusCode(long& status) const;
    // First answer header of that name (case-insensitive), value trimmed.
    bool QueryHeader(const std::string& name, std::string& value) const;
    // Hands the body of the current request to sink as it arrives, on the
    // calling thread. True when the body ended; false when the sink asked to
    // stop. A body that fails raises TransferError(DownloadNetError); an
    // exception from the sink passes through unchanged.
    bool Receive(IBodySink& sink);

    const std::string& Url() const { return m_strUrl; }
    const std::string& Server() const { return m_strServer; }
    const std::string& Object() const { return m_strObject; }
    std::uint16_t Port() const { return m_nPort; }

private:
    static std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBodyBytes(char* data, std::size_t size, std::size_t count, void* self);
    bool ParseUrl(const std::string& url);
    void StartTransfer(const std::string& url, bool withBody);
    template <class Done> void Drive(Done done);
    void ResetAnswer();
    bool QueryHeaderOfAnswer(const std::string& name, std::string& value) const;

    void* m_easy = nullptr;  // CURL*
    void* m_multi = nullptr; // CURLM*
    void* m_headerList = nullptr; // curl_slist*
    bool m_attached = false;
    long m_connectTimeoutMs = 0;
    long m_stallSeconds = 30;

    std::string m_strUrl;
    std::string m_strServer;
    std::string m_strObject;
    std::uint16_t m_nPort = 0;
    std::string m_headers;

    // Answer of the current request.
    std::vector<std::pair<std::string, std::string>> m_answerHeaders;
    long m_status = 0;
    bool m_headersDone = false;
    bool m_redirectPending = false;
    std::string m_redirectUrl;
    bool m_done = false;
    bool m_failed = false;
    bool m_paused = false;
    std::chrono::steady_clock::time_point m_lastActivity;

    // Where the body goes while Receive runs; bytes that come before are
    // held back in curl (the transfer is paused).
    IBodySink* m_sink = nullptr;
    bool m_sinkStopped = false;
    std::exception_ptr m_sinkError;
};
