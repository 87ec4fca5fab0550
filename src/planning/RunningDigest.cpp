#include "planning/RunningDigest.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Small on purpose: seeding runs beside transfers whose memory is counted.
constexpr std::size_t SeedReadSize = 256 * 1024;

} // namespace

void RunningDigest::Reset()
{
    Md5Init(&m_context);
    m_length = 0;
}

bool RunningDigest::SeedFromFile(const std::string& path, std::uint64_t length)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Reset();
        return false;
    }
    const bool seeded = SeedFromDescriptor(fd, length);
    ::close(fd);
    return seeded;
}

bool RunningDigest::SeedFromDescriptor(int fd, std::uint64_t length)
{
    Reset();
    std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(SeedReadSize, length)));
    std::uint64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
        const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            Reset();
            return false;
        }
        Update(buffer.data(), static_cast<std::size_t>(got));
        done += static_cast<std::uint64_t>(got);
    }
    return true;
}

void RunningDigest::Update(const void* data, std::size_t size)
{
    Md5Update(&m_context, data, size);
    m_length += size;
}

std::string RunningDigest::Hex() const
{
    Md5Context copy = m_context;
    Md5Final(&copy);
    return DigestToHex(copy.digest);
}
