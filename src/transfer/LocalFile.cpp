#include "transfer/LocalFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "transfer/TransferError.h"

LocalFile::~LocalFile()
{
    Close();
}

bool LocalFile::Open(const std::string& path)
{
    return Adopt(UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)));
}

bool LocalFile::Adopt(UniqueFd file)
{
    Close();
    if (!file.Valid() || ::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    m_fd = file.Release();
    return true;
}

std::uint64_t LocalFile::Length() const
{
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        throw TransferError(DownloadFileError);
    return static_cast<std::uint64_t>(info.st_size);
}

void LocalFile::SeekToEnd()
{
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_END) < 0)
        throw TransferError(DownloadFileError);
}

void LocalFile::Truncate()
{
    if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) < 0)
        throw TransferError(DownloadFileError);
}

namespace {

// The most one write(2) hands the kernel. A block still goes to the file
// whole before anyone is told of it; only the system calls are smaller. On
// the kernels we measured, page-cache writes of 512 KiB at once were several
// times slower and far less steady than 64 KiB ones (large folios).
constexpr std::size_t MaxWriteCall = 64 * 1024;

} // namespace

void LocalFile::Write(const char* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = ::write(m_fd, bytes, std::min(count, MaxWriteCall));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw TransferError(DownloadFileError);
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

void LocalFile::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
