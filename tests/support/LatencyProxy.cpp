#include "support/LatencyProxy.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/NginxServer.h"

namespace {

using Clock = std::chrono::steady_clock;

bool SendAll(int fd, const char* data, std::size_t size, const std::atomic<bool>& stop)
{
    while (size > 0 && !stop) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd entry {fd, POLLOUT, 0};
            poll(&entry, 1, 50);
            continue;
        }
        return false;
    }
    return size == 0;
}

// host and port of "GET http://host:port/path HTTP/1.1"; false when the
// request line is not an absolute http URL.
bool ParseTarget(const std::string& head, std::string& host, std::uint16_t& port)
{
    const auto space = head.find(' ');
    const std::string prefix = "http://";
    if (space == std::string::npos || head.compare(space + 1, prefix.size(), prefix) != 0)
        return false;
    const auto from = space + 1 + prefix.size();
    const auto end = head.find_first_of("/ ", from);
    const auto authority = head.substr(from, end - from);
    const auto colon = authority.rfind(':');
    host = authority.substr(0, colon);
    port = colon == std::string::npos ? 80 : static_cast<std::uint16_t>(std::atoi(authority.c_str() + colon + 1));
    return !host.empty();
}

int ConnectTo(const std::string& host, std::uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Loopback only: "localhost" or a dotted address.
    if (host == "localhost")
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    else if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
        return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

LatencyProxy::LatencyProxy(int roundTripMs) : m_roundTripMs(roundTripMs)
{
    m_listenFd = ListenOnLoopback(256, m_port, "latency proxy");
    m_acceptThread = std::thread([this] { Accept(); });
}

LatencyProxy::~LatencyProxy()
{
    m_stop = true;
    m_acceptThread.join();
    for (auto& link : m_links)
        link->thread.join();
    close(m_listenFd);
}

std::string LatencyProxy::Url() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void LatencyProxy::Accept()
{
    while (!m_stop) {
        pollfd entry {m_listenFd, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0)
            continue;
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        ++m_connections;
        // Threads of closed connections are joined here, as new ones come.
        for (auto it = m_links.begin(); it != m_links.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = m_links.erase(it);
            } else {
                ++it;
            }
        }
        auto link = std::make_unique<Link>();
        auto* raw = link.get();
        link->thread = std::thread([this, fd, raw] {
            Relay(fd);
            close(fd);
            raw->done = true;
        });
        m_links.push_back(std::move(link));
    }
}

void LatencyProxy::Relay(int client)
{
    const auto delay = std::chrono::milliseconds(m_roundTripMs);
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // The handshake's round trip: nothing flows before it has passed.
    const auto open = Clock::now() + delay;

    int server = -1;
    std::string head; // the first request's start, until the server is known
    // Client bytes on their way, each piece with the time it may go on.
    std::deque<std::pair<Clock::time_point, std::string>> outbound;
    std::vector<char> buffer(64 * 1024);
    bool clientOpen = true;
    while (!m_stop) {
        const auto now = Clock::now();
        while (server >= 0 && !outbound.empty() && outbound.front().first <= now) {
            const auto& piece = outbound.front().second;
            if (!SendAll(server, piece.data(), piece.size(), m_stop)) {
                close(server);
                return;
            }
            outbound.pop_front();
        }
        if (!clientOpen && outbound.empty())
            break;

        int timeout = 50;
        if (!outbound.empty()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(outbound.front().first - now);
            timeout = static_cast<int>(std::max<long>(0, std::min<long>(timeout, wait.count() + 1)));
        }
        pollfd entries[2] = {{clientOpen ? client : -1, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(entries, 2, timeout) < 0)
            continue;
        if (clientOpen && (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = recv(client, buffer.data(), buffer.size(), 0);
            if (got > 0) {
                std::string piece(buffer.data(), static_cast<std::size_t>(got));
                if (server < 0) {
                    head += piece;
                    std::string host;
                    std::uint16_t port = 0;
                    if (head.find("\r\n") == std::string::npos)
                        continue;
                    if (!ParseTarget(head, host, port) || (server = ConnectTo(host, port)) < 0)
                        return;
                    piece.swap(head);
                }
                outbound.emplace_back(std::max(open, Clock::now()) + delay, std::move(piece));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                clientOpen = false;
            }
        }
        if (server >= 0 && (entries[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = recv(server, buffer.data(), buffer.size(), 0);
            if (got <= 0 || !SendAll(client, buffer.data(), static_cast<std::size_t>(got), m_stop))
                break;
        }
    }
    if (server >= 0)
        close(server);
}
