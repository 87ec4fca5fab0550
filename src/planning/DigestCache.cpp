#include "planning/DigestCache.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "planning/Md5.h"
#include "platform/AtomicFile.h"

namespace {

constexpr const char* FormatLine = "zorvath-digest-cache 1";
constexpr const char* ChecksumPrefix = "body-md5 ";

std::string Md5Hex(const std::string& bytes)
{
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, bytes.data(), bytes.size());
    Md5Final(&context);
    return DigestToHex(context.digest);
}

bool IsHexDigest(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

namespace {

std::optional<FileIdentity> IdentityOf(const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        return std::nullopt;
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    identity.size = static_cast<std::uint64_t>(info.st_size);
    identity.mtimeNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    identity.ctimeNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
    return identity;
}

} // namespace

std::optional<FileIdentity> IdentifyFile(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return IdentityOf(info);
}

std::optional<FileIdentity> IdentifyDescriptor(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return IdentityOf(info);
}

std::string DigestCacheFileFor(const std::string& folder)
{
    std::string base;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (cache != nullptr && *cache != '\0')
        base = cache;
    else if (home != nullptr && *home != '\0')
        base = std::string(home) + "/.cache";
    else
        return {};
    // "/games/x/" and "/games/x" are the same folder.
    std::string key = folder;
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return base + "/zorvath/" + Md5Hex(key) + ".digests";
}

DigestCache::LoadResult DigestCache::Load()
{
    m_entries.clear();
    m_changed = false;
    std::ifstream in(m_file, std::ios::binary);
    if (!in) {
        return LoadResult::Missing;
    }
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();

    const auto damaged = [this] {
        m_entries.clear();
        m_changed = true; // written whole again by Save
        return LoadResult::Damaged;
    };
    const auto firstEnd = text.find('\n');
    if (firstEnd == std::string::npos || text.compare(0, firstEnd, FormatLine) != 0)
        return damaged();
    const auto secondEnd = text.find('\n', firstEnd + 1);
    if (secondEnd == std::string::npos)
        return damaged();
    const auto checksumLine = text.substr(firstEnd + 1, secondEnd - firstEnd - 1);
    const std::string body = text.substr(secondEnd + 1);
    if (checksumLine != ChecksumPrefix + Md5Hex(body))
        return damaged();

    std::istringstream lines(body);
    std::string line;
    while (std::getline(lines, line)) {
        FileIdentity identity;
        char digest[33] = {};
        int consumed = 0;
        const int fields = std::sscanf(line.c_str(), "%" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNd64 " %" SCNd64 " %32s%n",
            &identity.device, &identity.inode, &identity.size, &identity.mtimeNs, &identity.ctimeNs, digest, &consumed);
        if (fields != 6 || static_cast<std::size_t>(consumed) != line.size() || !IsHexDigest(digest))
            return damaged();
        m_entries[{identity.device, identity.inode}] = {identity, digest};
    }
    return LoadResult::Loaded;
}

std::optional<std::string> DigestCache::Find(const FileIdentity& identity) const
{
    const auto it = m_entries.find({identity.device, identity.inode});
    if (it == m_entries.end() || !(it->second.first == identity))
        return std::nullopt;
    return it->second.second;
}

void DigestCache::Remember(const FileIdentity& identity, const std::string& md5Hex)
{
    auto& entry = m_entries[{identity.device, identity.inode}];
    if (entry.first == identity && entry.second == md5Hex)
        return;
    entry = {identity, md5Hex};
    m_changed = true;
}

bool DigestCache::Save()
{
    if (!m_changed)
        return true;
    std::string body;
    for (const auto& [key, entry] : m_entries) {
        const auto& id = entry.first;
        char line[160];
        std::snprintf(line, sizeof line, "%" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64 " %s\n", id.device,
            id.inode, id.size, id.mtimeNs, id.ctimeNs, entry.second.c_str());
        body += line;
    }
    const std::string text = std::string(FormatLine) + "\n" + ChecksumPrefix + Md5Hex(body) + "\n" + body;

    std::error_code error;
    const auto folder = std::filesystem::path(m_file).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    if (!WriteFileAtomically(m_file, text, 0600))
        return false;
    m_changed = false;
    m_savedAt = std::chrono::steady_clock::now();
    return true;
}

bool DigestCache::SaveAtMostEvery(std::chrono::milliseconds interval)
{
    if (m_changed && m_savedAt && std::chrono::steady_clock::now() - *m_savedAt < interval)
        return true;
    return Save();
}
