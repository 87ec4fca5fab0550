#include "support/TestData.h"

#include <random>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "planning/Md5.h"

std::string Md5Of(const std::string& bytes)
{
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, bytes.data(), bytes.size());
    Md5Final(&context);
    return DigestToHex(context.digest);
}

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

bool Exists(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::optional<std::string> MemoryFolderStore::Read(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    const auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
}

bool MemoryFolderStore::Write(const std::string& name, const std::string& folder)
{
    std::lock_guard lock(m_mutex);
    values[name] = folder;
    return true;
}

namespace {

bool SetImmutableFlag(const std::filesystem::path& folder, bool on)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

ImmutableFolder::ImmutableFolder(const std::filesystem::path& folder) : m_folder(folder)
{
    m_set = SetImmutableFlag(m_folder, true);
}

ImmutableFolder::~ImmutableFolder()
{
    if (m_set)
        SetImmutableFlag(m_folder, false);
}
