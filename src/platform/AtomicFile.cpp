#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

bool WriteWholly(int fd, const std::string& content)
{
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
        if (wrote > 0)
            done += static_cast<std::size_t>(wrote);
        else if (!(wrote < 0 && errno == EINTR))
            return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteWholly(fd, content);
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}
