#include "planning/PartialFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "planning/Md5.h"
#include "planning/RunningDigest.h"
#include "platform/AtomicFile.h"

namespace {

// Up to 32 bytes of the file's start; the count read, or -1 when it cannot be
// opened.
int ReadHead(const std::string& path, char head[32])
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int total = 0;
    while (total < 32) {
        const ssize_t n = ::read(fd, head + total, static_cast<std::size_t>(32 - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<int>(n);
    }
    ::close(fd);
    return total;
}

} // namespace

int PartialFile::CompareSideFile(const Digest& listed) const
{
    char head[32] = {};
    if (ReadHead(SidePath(), head) < 0)
        return 0;
    const int order = std::memcmp(head, listed.data(), listed.size());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

bool PartialFile::WriteSideFile(const Digest& md5) const
{
    char head[33] = {};
    struct stat info {};
    if (::stat(SidePath().c_str(), &info) == 0 && info.st_size == 32 && ReadHead(SidePath(), head) == 32 &&
        std::memcmp(head, md5.data(), md5.size()) == 0)
        return true;

    return WriteFileAtomically(SidePath(), std::string(md5.data(), md5.size()));
}

std::uint64_t PartialFile::PartialLength() const
{
    struct stat info {};
    if (::stat(PartialPath().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

bool PartialFile::PartialMatches(const Digest& listed) const
{
    Md5Context context;
    unsigned char digest[16];
    if (DigestFile(PartialPath(), &context, digest) != DigestFileOk)
        return false;
    const std::string hex = DigestToHex(digest);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(listed[i])) != static_cast<unsigned char>(hex[i]))
            return false;
    }
    return true;
}

bool PartialAppender::Append(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd.Get(), data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PartialAppender::Restart()
{
    return ::ftruncate(m_fd.Get(), 0) == 0;
}

PartialAppender PartialFile::OpenForAppend() const
{
    return PartialAppender(UniqueFd(::open(PartialPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)));
}

bool PartialFile::TruncatePartial() const
{
    return ::truncate(PartialPath().c_str(), 0) == 0 || errno == ENOENT;
}

bool PartialFile::SeedDigest(RunningDigest& digest, std::uint64_t length) const
{
    return digest.SeedFromFile(PartialPath(), length);
}

std::optional<FileIdentity> PartialFile::PartialIdentity() const
{
    return IdentifyFile(PartialPath());
}

std::optional<FileIdentity> PartialFile::FinalIdentity() const
{
    return IdentifyFile(m_path);
}

int PartialFile::Commit() const
{
    if (std::rename(PartialPath().c_str(), m_path.c_str()) != 0)
        return errno != 0 ? errno : EIO;
    ::unlink(SidePath().c_str());
    return 0;
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}
