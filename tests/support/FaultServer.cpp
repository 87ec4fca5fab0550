#include "support/FaultServer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <strings.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/NginxServer.h"

namespace {

// A proxy configured for the user's session must not stand between the
// client under test and a server on 127.0.0.1.
void KeepLoopbackOffProxies()
{
    if (std::getenv("no_proxy") == nullptr && std::getenv("NO_PROXY") == nullptr)
        setenv("no_proxy", "127.0.0.1,localhost", 0);
}

using Clock = std::chrono::steady_clock;

// Waits for fd to become ready for events, in short steps so that a stop
// request is seen; false on time-out, stop or hang-up.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::atomic<bool>& stop)
{
    while (!stop && Clock::now() < deadline) {
        pollfd entry {fd, events, 0};
        const int ready = poll(&entry, 1, 50);
        if (ready > 0)
            return (entry.revents & events) != 0 && (entry.revents & (POLLERR | POLLNVAL)) == 0;
    }
    return false;
}

bool SendAll(int fd, const char* data, std::size_t size, const std::atomic<bool>& stop)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (size > 0) {
        if (!WaitFor(fd, POLLOUT, deadline, stop))
            return false;
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

std::string RecordedRequest::Header(const std::string& name) const
{
    for (const auto& line : headers) {
        const auto colon = line.find(':');
        if (colon == name.size() && strncasecmp(line.c_str(), name.c_str(), colon) == 0) {
            auto value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
    }
    return {};
}

FaultServer::FaultServer()
{
    KeepLoopbackOffProxies();
    m_listenFd = ListenOnLoopback(16, m_port, "fault server");
    m_thread = std::thread([this] { Serve(); });
}

FaultServer::~FaultServer()
{
    m_stop = true;
    m_thread.join();
    close(m_listenFd);
}

std::string FaultServer::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

void FaultServer::SetBody(std::string body)
{
    std::lock_guard lock(m_mutex);
    m_body = std::move(body);
}

void FaultServer::SetBodyAt(const std::string& path, std::string body)
{
    std::lock_guard lock(m_mutex);
    m_bodies[path] = std::move(body);
}

void FaultServer::SetScript(std::vector<FaultReply> script)
{
    std::lock_guard lock(m_mutex);
    m_script = std::move(script);
}

std::vector<RecordedRequest> FaultServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void FaultServer::Serve()
{
    while (!m_stop) {
        pollfd entry {m_listenFd, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0)
            continue;
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        ++m_connections;
        Answer(fd);
        close(fd);
    }
}

void FaultServer::Answer(int fd)
{
    // Read the request head (bounded in size and time).
    std::string head;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (!WaitFor(fd, POLLIN, deadline, m_stop))
            return;
        char chunk[4096];
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return;
        head.append(chunk, static_cast<std::size_t>(got));
    }
    RecordedRequest request;
    std::size_t from = 0;
    for (;;) {
        const auto end = head.find("\r\n", from);
        if (end == std::string::npos || end == from)
            break;
        const auto line = head.substr(from, end - from);
        if (request.requestLine.empty())
            request.requestLine = line;
        else
            request.headers.push_back(line);
        from = end + 2;
    }

    FaultReply reply;
    std::string body;
    {
        std::lock_guard lock(m_mutex);
        const auto index = m_requests.size();
        if (!m_script.empty())
            reply = m_script[std::min(index, m_script.size() - 1)];
        // "GET /path HTTP/1.1"
        const auto pathFrom = request.requestLine.find(' ') + 1;
        const auto path = request.requestLine.substr(pathFrom, request.requestLine.rfind(' ') - pathFrom);
        const auto own = m_bodies.find(path);
        body = reply.body.value_or(own != m_bodies.end() ? own->second : m_body);
        m_requests.push_back(request);
    }

    int status = reply.status;
    std::string contentRange;
    const auto range = request.Header("Range");
    if (reply.honourRange && range.rfind("bytes=", 0) == 0 && (status == 0 || status == 206)) {
        const auto dash = range.find('-');
        const auto first = std::strtoull(range.c_str() + 6, nullptr, 10);
        auto last = dash + 1 < range.size() ? std::strtoull(range.c_str() + dash + 1, nullptr, 10) : body.size();
        if (first >= body.size() || first > last) {
            status = 416;
            contentRange = "Content-Range: bytes */" + std::to_string(body.size());
            body.clear();
        } else {
            last = std::min<unsigned long long>(last, body.size() - 1);
            contentRange = "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/"
                + std::to_string(body.size());
            body = body.substr(first, last - first + 1);
            status = 206;
        }
    }
    if (status == 0)
        status = 200;
    if (reply.contentRange)
        contentRange = reply.contentRange->empty() ? std::string() : "Content-Range: " + *reply.contentRange;

    if (reply.headerDelayMs > 0) {
        const auto until = Clock::now() + std::chrono::milliseconds(reply.headerDelayMs);
        while (!m_stop && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    answer += "Connection: close\r\n";
    if (!contentRange.empty())
        answer += contentRange + "\r\n";
    if (!reply.contentLength)
        answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    else if (!reply.contentLength->empty())
        answer += "Content-Length: " + *reply.contentLength + "\r\n";
    for (const auto& header : reply.extraHeaders)
        answer += header + "\r\n";
    answer += "\r\n";
    if (!SendAll(fd, answer.data(), answer.size(), m_stop))
        return;

    const auto limit = std::min({body.size(), reply.closeAfter, reply.stallAfter});
    if (!SendAll(fd, body.data(), limit, m_stop))
        return;
    if (reply.stallAfter != FaultReply::Never && limit == reply.stallAfter) {
        // Hold the connection without sending until the client gives up.
        char sink[256];
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (WaitFor(fd, POLLIN, until, m_stop)) {
            if (recv(fd, sink, sizeof sink, 0) <= 0)
                break;
        }
    }
}
