#include "platform/FixedDrives.h"

#include <utility>

FixedDrives::FixedDrives(std::vector<DriveRoot> roots, std::map<std::string, std::uint64_t> freeBytes)
    : m_roots(std::move(roots))
    , m_freeBytes(std::move(freeBytes))
{
}

std::optional<std::uint64_t> FixedDrives::FreeBytes(const std::string& path) const
{
    const std::string* best = nullptr;
    for (const auto& [root, bytes] : m_freeBytes)
        if (path.starts_with(root) && (best == nullptr || root.size() > best->size()))
            best = &root;
    if (best == nullptr)
        return std::nullopt;
    return m_freeBytes.at(*best);
}
