#pragma once

#include <filesystem>
#include <string>
#include <vector>
#include <sys/types.h>

#include "support/TempDir.h"

// A real nginx (/usr/sbin/nginx) on a free 127.0.0.1 port, serving a
// temporary document root, for tests and benchmarks that need a plain,
// correct HTTP server. Started by the constructor (which waits until it
// answers and throws std::runtime_error when it cannot start), stopped by the
// destructor. gzip is on for every type, so a client that does not ask for
// identity gets compressed bodies. Use from one thread.
class NginxServer {
public:
    struct Options {
        bool tls = false;            // https with a certificate made for 127.0.0.1
        std::string extraServerConfig; // directives added inside the server block
        bool http2 = false;          // with tls: offer h2 (ALPN) as well as HTTP/1.1
    };

    NginxServer();
    explicit NginxServer(const Options& options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // "http://127.0.0.1:PORT/" (or https), ending with '/'.
    std::string BaseUrl() const;
    std::uint16_t Port() const { return m_port; }
    // Files placed here are served at BaseUrl() + their relative path.
    const std::filesystem::path& DocumentRoot() const { return m_docRoot; }
    // Writes a file under the document root and returns its full path.
    std::string Put(const std::string& relative, const std::string& content) const;
    // The paths asked for so far, in the order nginx logged them, without
    // their queries ("/lists/update.txt"). nginx logs a request once it has
    // answered it.
    std::vector<std::string> RequestedPaths() const;
    // The certificate (PEM) to trust when tls is on; empty otherwise.
    std::string CertificateFile() const { return m_certFile; }

private:
    void Start(const Options& options);
    void Stop();

    TempDir m_dir;
    std::filesystem::path m_docRoot;
    std::string m_certFile;
    std::uint16_t m_port = 0;
    bool m_tls = false;
    pid_t m_pid = -1;
};

// A free TCP port on 127.0.0.1 at the time of the call.
std::uint16_t FreeLoopbackPort();
// A non-blocking socket listening on a free port of 127.0.0.1, and that port;
// throws std::runtime_error naming who asked when none can be had.
int ListenOnLoopback(int backlog, std::uint16_t& port, const char* who);
// True when something accepts connections on 127.0.0.1:port.
bool LoopbackPortAnswers(std::uint16_t port);
// Waits up to 10 s for the server a fixture started as child pid to answer
// on 127.0.0.1:port: true. False when the child ended first (most likely the
// port was taken meanwhile; pid is then -1) or did not answer in time.
bool ChildServerAnswers(pid_t& pid, std::uint16_t port);
// Ends such a child: SIGTERM, SIGKILL after 5 s. pid is -1 afterwards.
void EndChildServer(pid_t& pid);
