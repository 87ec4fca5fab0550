#include "planning/PresentFileDigests.h"

#include "planning/DigestCache.h"
#include "planning/Md5.h"

PresentFileDigests::PresentFileDigests(std::vector<std::string> paths, DigestCache* cache, bool verify)
    : m_paths(std::move(paths)), m_cache(cache), m_verify(verify)
{
    const std::size_t threads = std::min<std::size_t>(kThreads, m_paths.size());
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { Work(); });
}

PresentFileDigests::~PresentFileDigests()
{
    Wait();
}

void PresentFileDigests::Wait()
{
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

std::optional<std::string> PresentFileDigests::Find(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_found.find(path);
    if (found == m_found.end())
        return std::nullopt;
    return found->second;
}

void PresentFileDigests::Work()
{
    for (std::size_t i = m_next++; i < m_paths.size(); i = m_next++) {
        const std::string& path = m_paths[i];
        const auto before = IdentifyFile(path);
        if (!before)
            continue;
        if (m_cache != nullptr && !m_verify) {
            std::lock_guard lock(m_mutex);
            if (auto known = m_cache->Find(*before)) {
                m_found[path] = *known;
                continue;
            }
        }
        // Hashed outside the lock: the other thread keeps going meanwhile.
        Md5Context context;
        unsigned char digest[16];
        if (DigestFile(path, &context, digest) != DigestFileOk)
            continue;
        ++m_hashed;
        const std::string hex = DigestToHex(digest);
        // A file that changed while it was read may not match what we hashed.
        const auto after = IdentifyFile(path);
        std::lock_guard lock(m_mutex);
        m_found[path] = hex;
        if (m_cache != nullptr && after && *after == *before)
            m_cache->Remember(*before, hex);
    }
}
