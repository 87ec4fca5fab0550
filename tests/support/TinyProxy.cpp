#include "support/TinyProxy.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

#include "support/NginxServer.h"

namespace {

constexpr const char* TinyProxyProgram = "/usr/bin/tinyproxy";
// How tinyproxy logs each request it reads.
constexpr const char* RequestMark = "Request (file descriptor ";

} // namespace

bool TinyProxyPresent()
{
    return ::access(TinyProxyProgram, X_OK) == 0;
}

TinyProxy::TinyProxy(const std::vector<std::uint16_t>& connectPorts)
{
    const auto root = m_dir.Path();
    const std::string confPath = (root / "tinyproxy.conf").string();
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = FreeLoopbackPort();
        std::ofstream conf(confPath, std::ios::trunc);
        conf << "Port " << m_port << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 30\n"
             << "MaxClients 100\n"
             << "Allow 127.0.0.1\n"
             << "DisableViaHeader Yes\n"
             << "LogFile \"" << (root / "tinyproxy.log").string() << "\"\n"
             << "LogLevel Connect\n";
        for (const std::uint16_t port : connectPorts)
            conf << "ConnectPort " << port << "\n";
        conf.close();

        m_pid = fork();
        if (m_pid < 0)
            throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            execl(TinyProxyProgram, TinyProxyProgram, "-d", "-c", confPath.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (ChildServerAnswers(m_pid, m_port))
            return;
        Stop();
    }
    throw std::runtime_error("tinyproxy did not start");
}

TinyProxy::~TinyProxy()
{
    Stop();
}

std::string TinyProxy::Url() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> TinyProxy::Requests() const
{
    std::vector<std::string> requests;
    std::ifstream log(m_dir.Path() / "tinyproxy.log");
    for (std::string line; std::getline(log, line);) {
        const auto mark = line.find(RequestMark);
        if (mark == std::string::npos)
            continue;
        const auto colon = line.find("): ", mark);
        if (colon != std::string::npos)
            requests.push_back(line.substr(colon + 3));
    }
    return requests;
}

void TinyProxy::Stop()
{
    EndChildServer(m_pid);
}
