#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <sys/types.h>

#include "support/TempDir.h"

// A real HTTP proxy (Debian's /usr/bin/tinyproxy) on a free 127.0.0.1 port,
// in the foreground with a configuration and log file of its own in a
// temporary folder. It takes absolute-form requests for http URLs and
// CONNECT tunnels (for https) to the ports given, or to any port when none
// are. Started by the constructor (which waits until it answers and throws
// std::runtime_error when it cannot start), stopped by the destructor. Use
// from one thread.
class TinyProxy {
public:
    explicit TinyProxy(const std::vector<std::uint16_t>& connectPorts = {});
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    // "http://127.0.0.1:PORT", for http_proxy and the like.
    std::string Url() const;
    // The request lines the proxy was asked so far, in order:
    // "GET http://127.0.0.1:8080/a.bin HTTP/1.1", "CONNECT 127.0.0.1:8443 HTTP/1.1".
    std::vector<std::string> Requests() const;

private:
    void Stop();

    TempDir m_dir;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
};

// True when tinyproxy is installed (scripts/common.sh installs it).
bool TinyProxyPresent();
