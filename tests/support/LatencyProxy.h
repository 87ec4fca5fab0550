#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A small HTTP forward proxy of our own on a free 127.0.0.1 port that makes
// a loopback server look far away: each new connection costs one round trip
// before anything flows, and every piece the client sends reaches the server
// one round trip later (answers flow back at once, so each request-answer
// exchange costs one extra round trip). Plain http only (absolute-form
// requests, no CONNECT); a connection's first request names the server it
// is tied to. One thread per client connection; the destructor ends them all.
class LatencyProxy {
public:
    explicit LatencyProxy(int roundTripMs = 20);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    // "http://127.0.0.1:PORT", for CURLOPT_PROXY or curl --proxy.
    std::string Url() const;
    std::uint16_t Port() const { return m_port; }
    // Client connections accepted so far.
    std::size_t Connections() const { return m_connections; }

private:
    struct Link {
        std::thread thread;
        std::atomic<bool> done {false};
    };
    void Accept();
    void Relay(int client);

    int m_roundTripMs;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop {false};
    std::atomic<std::size_t> m_connections {0};
    std::list<std::unique_ptr<Link>> m_links; // the accept thread's only
    std::thread m_acceptThread;
};
