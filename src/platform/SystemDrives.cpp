#include "platform/Drives.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

#include <mntent.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string WithSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

bool IsRemoteType(std::string_view type)
{
    static const std::set<std::string_view> remote = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs",
        "9p", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "davfs", "fuse.davfs2"};
    return remote.contains(type);
}

// Whether the whole disk under a /dev node is removable (USB sticks, cards).
bool IsRemovableDevice(const std::string& device)
{
    std::error_code error;
    const auto node = std::filesystem::canonical(device, error);
    if (error)
        return false;
    auto sysEntry = std::filesystem::canonical("/sys/class/block" / node.filename(), error);
    if (error)
        return false;
    // A partition's folder sits inside its disk's folder.
    if (std::filesystem::exists(sysEntry / "partition", error))
        sysEntry = sysEntry.parent_path();
    std::ifstream flag(sysEntry / "removable");
    char value = '0';
    flag >> value;
    return value == '1';
}

class MachineDrives final : public IDrives {
public:
    std::vector<DriveRoot> List() const override
    {
        std::vector<DriveRoot> roots;
        std::set<std::string> seen;
        const std::string home = HomeFolder();
        if (!home.empty()) {
            roots.push_back({WithSlash(home), DriveType::Fixed});
            seen.insert(WithSlash(home));
        }
        FILE* table = ::setmntent("/proc/self/mounts", "r");
        if (table == nullptr)
            return roots;
        mntent entry;
        char text[4096];
        while (::getmntent_r(table, &entry, text, sizeof text) != nullptr) {
            const std::string device = entry.mnt_fsname;
            const std::string type = entry.mnt_type;
            const std::string root = WithSlash(entry.mnt_dir);
            DriveType kind;
            if (IsRemoteType(type))
                kind = DriveType::Remote;
            else if (device.starts_with("/dev/"))
                kind = IsRemovableDevice(device) ? DriveType::Removable : DriveType::Fixed;
            else
                continue; // pseudo filesystems: proc, sysfs, tmpfs, overlay...
            if (seen.contains(root) || ::access(entry.mnt_dir, W_OK) != 0)
                continue;
            seen.insert(root);
            roots.push_back({root, kind});
        }
        ::endmntent(table);
        return roots;
    }

    std::optional<std::uint64_t> FreeBytes(const std::string& path) const override
    {
        // A folder that does not exist yet is on the volume of its nearest
        // existing parent.
        std::filesystem::path probe = path.empty() ? "/" : path;
        std::error_code error;
        while (!std::filesystem::exists(probe, error) && probe.has_relative_path())
            probe = probe.parent_path();
        struct statvfs info;
        if (::statvfs(probe.c_str(), &info) != 0)
            return std::nullopt;
        return std::uint64_t(info.f_bavail) * std::uint64_t(info.f_frsize);
    }
};

} // namespace

const IDrives& SystemDrives()
{
    static const MachineDrives drives;
    return drives;
}
