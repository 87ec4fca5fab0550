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
    Reset();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(SeedReadSize, length)));
    std::uint64_t left = length;
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const ssize_t got = ::read(fd, buffer.data(), want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ::close(fd);
            Reset();
            return false;
        }
        Update(buffer.data(), static_cast<std::size_t>(got));
        left -= static_cast<std::uint64_t>(got);
    }
    ::close(fd);
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
