#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::~InstanceLock()
{
    Release();
}

std::string InstanceLock::LockFilePath(const std::string& name)
{
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = runtimeDir != nullptr && *runtimeDir != '\0' ? runtimeDir : "/tmp";
    // Characters outside a safe set become '_'; the hash of the whole name
    // keeps names that differ only there apart.
    std::string safe;
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name) {
        hash = (hash ^ c) * 1099511628211ull;
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_' || c == '.';
        if (safe.size() < 64)
            safe += keep ? static_cast<char>(c) : '_';
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return folder + "/zorvath-" + safe + "-" + hex + ".lock";
}

bool InstanceLock::Acquire(const std::string& name)
{
    Release();
    if (name.empty())
        return true;
    const std::string path = LockFilePath(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return !busy;
    }
    m_fd = fd;
    return true;
}

void InstanceLock::Release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
