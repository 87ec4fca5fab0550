#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Drives.h"

// A drive list given in advance, for tests and for runs that must not depend
// on the machine's mounts. FreeBytes answers for the longest listed root that
// begins the path; a root without a free figure answers nothing.
class FixedDrives final : public IDrives {
public:
    FixedDrives(std::vector<DriveRoot> roots, std::map<std::string, std::uint64_t> freeBytes = {});

    std::vector<DriveRoot> List() const override { return m_roots; }
    std::optional<std::uint64_t> FreeBytes(const std::string& path) const override;

private:
    std::vector<DriveRoot> m_roots;
    std::map<std::string, std::uint64_t> m_freeBytes;
};
