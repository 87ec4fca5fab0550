#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// How the fault server answers one request. The defaults give a correct
// answer: 200 with the whole body, or 206 with the asked range.
struct FaultReply {
    static constexpr std::size_t Never = static_cast<std::size_t>(-1);

    int status = 0;                 // 0: 200, or 206/416 following the Range line
    bool honourRange = true;        // false: ignore any Range line
    std::optional<std::string> body; // the server's resource when empty
    // nullopt: the real length; "" : no Content-Length line; else this text.
    std::optional<std::string> contentLength;
    // nullopt: the Content-Range that fits the answer; "": none; else this value.
    std::optional<std::string> contentRange;
    std::vector<std::string> extraHeaders; // "Name: value", e.g. a Location
    std::size_t closeAfter = Never; // close the connection after N body bytes
    std::size_t stallAfter = Never; // send N body bytes, then nothing (kept open)
    int headerDelayMs = 0;          // wait this long before the status line
};

// One request as received: its request line and header lines, in order,
// without line ends.
struct RecordedRequest {
    std::string requestLine;
    std::vector<std::string> headers;
    // Value of the first header of that name (case-insensitive), or "".
    std::string Header(const std::string& name) const;
};

// A scripted HTTP/1.1 server of our own on a free 127.0.0.1 port, for the
// faults a correct server does not make. One thread serves connections one
// at a time; every answer closes its connection. Request number i (from 0)
// gets script[i], the last entry repeating; an empty script answers every
// request correctly. Every wait is bounded (a stall ends when the client
// leaves, after 20 s, or at destruction). Setters may be called from the
// test thread at any time; they take effect from the next request.
class FaultServer {
public:
    FaultServer();
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    // "http://127.0.0.1:PORT/".
    std::string BaseUrl() const;
    std::uint16_t Port() const { return m_port; }

    // The resource served for any path.
    void SetBody(std::string body);
    // The resource served for one path ("/game/a.bin", as in the request
    // line), instead of the one of SetBody.
    void SetBodyAt(const std::string& path, std::string body);
    void SetScript(std::vector<FaultReply> script);
    // Requests received so far, in order.
    std::vector<RecordedRequest> Requests() const;
    // Connections accepted so far.
    std::size_t Connections() const { return m_connections; }

private:
    void Serve();
    void Answer(int fd);

    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop {false};
    std::atomic<std::size_t> m_connections {0};
    mutable std::mutex m_mutex;
    std::string m_body;
    std::map<std::string, std::string> m_bodies;
    std::vector<FaultReply> m_script;
    std::vector<RecordedRequest> m_requests;
    std::thread m_thread;
};
