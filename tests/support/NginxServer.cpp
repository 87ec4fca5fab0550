#include "support/NginxServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A proxy configured for the user's session must not stand between the
// client under test and a server on 127.0.0.1.
void KeepLoopbackOffProxies()
{
    if (std::getenv("no_proxy") == nullptr && std::getenv("NO_PROXY") == nullptr)
        setenv("no_proxy", "127.0.0.1,localhost", 0);
}

constexpr const char* NginxProgram = "/usr/sbin/nginx";

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void RunQuietly(const std::vector<std::string>& arguments)
{
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("command failed: " + arguments.front());
}

} // namespace

std::uint16_t FreeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("no free loopback port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

int ListenOnLoopback(int backlog, std::uint16_t& port, const char* who)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    auto address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error(std::string(who) + " cannot listen");
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool LoopbackPortAnswers(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto address = Loopback(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

bool ChildServerAnswers(pid_t& pid, std::uint16_t port)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        if (LoopbackPortAnswers(port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void EndChildServer(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
}

NginxServer::NginxServer() : NginxServer(Options {}) {}

NginxServer::NginxServer(const Options& options)
{
    KeepLoopbackOffProxies();
    Start(options);
}

NginxServer::~NginxServer()
{
    Stop();
}

std::string NginxServer::BaseUrl() const
{
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + "/";
}

std::string NginxServer::Put(const std::string& relative, const std::string& content) const
{
    const auto path = m_docRoot / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path.string();
}

std::vector<std::string> NginxServer::RequestedPaths() const
{
    // Lines of the combined format: ... "GET /path?query HTTP/1.1" status ...
    std::vector<std::string> paths;
    std::ifstream log(m_dir.Path() / "logs/access.log");
    for (std::string line; std::getline(log, line);) {
        const auto request = line.find('"');
        const auto target = line.find(' ', request);
        if (request == std::string::npos || target == std::string::npos)
            continue;
        const auto end = line.find_first_of(" ?\"", target + 1);
        paths.push_back(line.substr(target + 1, end == std::string::npos ? std::string::npos : end - target - 1));
    }
    return paths;
}

void NginxServer::Start(const Options& options)
{
    const auto root = m_dir.Path();
    m_docRoot = root / "www";
    m_tls = options.tls;
    for (const char* sub : {"www", "logs", "tmp"})
        std::filesystem::create_directories(root / sub);
    // Worker processes may drop to another user when started as root; the
    // tree must stay readable for them.
    std::filesystem::permissions(root, std::filesystem::perms::owner_all | std::filesystem::perms::group_read
            | std::filesystem::perms::group_exec | std::filesystem::perms::others_read
            | std::filesystem::perms::others_exec);

    if (m_tls) {
        m_certFile = (root / "cert.pem").string();
        RunQuietly({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-keyout", (root / "key.pem").string(), "-out", m_certFile, "-subj", "/CN=127.0.0.1",
            "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    }

    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = FreeLoopbackPort();
        const auto tmp = (root / "tmp").string();
        std::ofstream conf(root / "nginx.conf", std::ios::trunc);
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << (root / "logs/nginx.pid").string() << ";\n"
             << "error_log " << (root / "logs/error.log").string() << " warn;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n"
             << "  access_log " << (root / "logs/access.log").string() << ";\n"
             << "  client_body_temp_path " << tmp << "/body;\n"
             << "  proxy_temp_path " << tmp << "/proxy;\n"
             << "  fastcgi_temp_path " << tmp << "/fastcgi;\n"
             << "  uwsgi_temp_path " << tmp << "/uwsgi;\n"
             << "  scgi_temp_path " << tmp << "/scgi;\n"
             << "  default_type application/octet-stream;\n"
             << "  sendfile on;\n"
             << "  gzip on; gzip_types *; gzip_min_length 1; gzip_proxied any;\n"
             << "  server {\n"
             << "    listen 127.0.0.1:" << m_port << (m_tls ? " ssl" : "") << (m_tls && options.http2 ? " http2" : "") << ";\n"
             << "    server_name localhost;\n"
             << "    root " << m_docRoot.string() << ";\n";
        if (m_tls)
            conf << "    ssl_certificate " << m_certFile << ";\n"
                 << "    ssl_certificate_key " << (root / "key.pem").string() << ";\n";
        conf << "    " << options.extraServerConfig << "\n  }\n}\n";
        conf.close();

        const std::string confPath = (root / "nginx.conf").string();
        const std::string prefix = root.string() + "/";
        const std::string errorLog = (root / "logs/error.log").string();
        m_pid = fork();
        if (m_pid < 0)
            throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execl(NginxProgram, NginxProgram, "-p", prefix.c_str(), "-e", errorLog.c_str(), "-c", confPath.c_str(),
                static_cast<char*>(nullptr));
            _exit(127);
        }
        if (ChildServerAnswers(m_pid, m_port))
            return;
        Stop();
    }
    throw std::runtime_error("nginx did not start; see its error log");
}

void NginxServer::Stop()
{
    EndChildServer(m_pid);
}
