#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Stand-in for the drive list and free-space queries. A root is an absolute
// path ending with '/'.
enum class DriveType { Fixed, Removable, Remote, Other };

struct DriveRoot {
    std::string root;
    DriveType type = DriveType::Other;
};

class IDrives {
public:
    virtual ~IDrives() = default;
    // Roots in their order: the user's home first (fixed), then the writable
    // mount points of local block devices; pseudo filesystems left out.
    virtual std::vector<DriveRoot> List() const = 0;
    // Bytes this user can still write on the volume holding path, or nothing
    // when the query fails.
    virtual std::optional<std::uint64_t> FreeBytes(const std::string& path) const = 0;
};

// The machine's drives, read from the mount table and statvfs.
const IDrives& SystemDrives();
