#include "planning/PresentFileDigests.h"

#include "planning/DigestCache.h"
#include "planning/Md5.h"
#include "platform/FolderBeneath.h"

PresentFileDigests::PresentFileDigests(std::string folder, std::vector<std::string> names, DigestCache* cache,
                                       bool verify)
    : m_folder(std::move(folder)), m_names(std::move(names)), m_cache(cache), m_verify(verify)
{
    // The whole that progress is measured against, from the sizes alone.
    if (!m_names.empty()) {
        const FolderBeneath beneath(m_folder);
        std::uint64_t length = 0;
        for (const std::string& name : m_names) {
            if (beneath.Status().Ok() && beneath.Length(name, length).Ok())
                m_bytesTotal += length;
        }
    }
    const std::size_t threads = std::min<std::size_t>(kThreads, m_names.size());
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

std::optional<std::string> PresentFileDigests::Find(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_found.find(name);
    if (found == m_found.end())
        return std::nullopt;
    return found->second;
}

void PresentFileDigests::Work()
{
    // One per thread: a FolderBeneath serves one thread at a time.
    const FolderBeneath beneath(m_folder);
    if (!beneath.Status().Ok())
        return;
    for (std::size_t i = m_next++; i < m_names.size(); i = m_next++) {
        const std::string& name = m_names[i];
        UniqueFd file;
        if (!beneath.OpenForReading(name, file).Ok())
            continue;
        const auto before = IdentifyDescriptor(file.Get());
        if (!before)
            continue;
        if (m_cache != nullptr && !m_verify) {
            std::lock_guard lock(m_mutex);
            if (auto known = m_cache->Find(*before)) {
                m_found[name] = *known;
                m_bytesDone += before->size;
                continue;
            }
        }
        // Hashed outside the lock: the other thread keeps going meanwhile.
        Md5Context context;
        unsigned char digest[16];
        if (DigestDescriptor(file.Get(), &context, digest, &m_bytesDone) != DigestFileOk)
            continue;
        ++m_hashed;
        const std::string hex = DigestToHex(digest);
        // A file that changed while it was read may not match what we hashed.
        const auto after = IdentifyDescriptor(file.Get());
        std::lock_guard lock(m_mutex);
        m_found[name] = hex;
        if (m_cache != nullptr && after && *after == *before)
            m_cache->Remember(*before, hex);
    }
}
