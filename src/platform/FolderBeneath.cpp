#include "platform/FolderBeneath.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

FolderStatus Result(FolderResult result)
{
    return FolderStatus{result, 0};
}

FolderStatus FromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return Result(FolderResult::NotFound);
    case ELOOP:
        return Result(FolderResult::Link);
    case EXDEV:
        return Result(FolderResult::Outside);
    case ENOTDIR:
    case EISDIR:
    case ENXIO: // a FIFO opened for writing with no reader, or a device
    case ENODEV:
        return Result(FolderResult::NotRegular);
    case EEXIST:
        return Result(FolderResult::Exists);
    default:
        return FolderStatus{FolderResult::IoError, error};
    }
}

// The components of a relative name, or nothing when one of them would
// leave the folder or is meaningless ("", ".", "..", or a leading '/').
bool SplitRelative(const std::string& relative, std::vector<std::string_view>& parts)
{
    parts.clear();
    if (relative.empty() || relative.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string_view part(relative.data() + start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        parts.push_back(part);
        start = end + 1;
    }
    return true;
}

// What stands at parent/name when a folder was expected there.
FolderStatus WhyNotAFolder(int parent, const std::string& name, int error)
{
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(info.st_mode))
            return Result(FolderResult::Link);
        if (!S_ISDIR(info.st_mode))
            return Result(FolderResult::NotRegular);
    }
    return FromErrno(error);
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Moves current one level down into the folder name, never through a link.
FolderStatus StepInto(UniqueFd& current, const std::string& name)
{
    const int fd = ::openat(current.Get(), name.c_str(), kFolderFlags);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR)
            return WhyNotAFolder(current.Get(), name, error);
        return FromErrno(error);
    }
    current.Reset(fd);
    return Result(FolderResult::Ok);
}

FolderStatus StatEntry(int parent, const std::string& leaf, struct stat& info)
{
    if (::fstatat(parent, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return FromErrno(errno);
    if (S_ISLNK(info.st_mode))
        return Result(FolderResult::Link);
    if (!S_ISREG(info.st_mode))
        return Result(FolderResult::NotRegular);
    return Result(FolderResult::Ok);
}


} // namespace

FolderBeneath::FolderBeneath(const std::string& folder, Resolve resolve)
    : m_openat2(resolve == Resolve::Auto)
{
    // The folder itself may be a link the user chose: follow that one.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_status = FromErrno(errno);
        return;
    }
    m_root.Reset(fd);
}

FolderStatus FolderBeneath::OpenFolderPath(const std::string& path, UniqueFd& folder) const
{
    if (m_openat2) {
        open_how how {};
        how.flags = kFolderFlags;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, m_root.Get(), path.c_str(), &how, sizeof how);
        if (fd >= 0) {
            folder.Reset(static_cast<int>(fd));
            return Result(FolderResult::Ok);
        }
        const int error = errno;
        if (error == ENOSYS)
            m_openat2 = false;
        else if (error != ELOOP && error != ENOTDIR)
            return FromErrno(error);
        // A link or a non-folder on the way: the walk below names it.
    }
    // Component walk: each level opened below the last, never through a link.
    std::vector<std::string_view> parts;
    SplitRelative(path, parts);
    UniqueFd current(::dup(m_root.Get()));
    if (!current.Valid())
        return FromErrno(errno);
    for (const auto part : parts) {
        const std::string name(part);
        if (const FolderStatus step = StepInto(current, name); !step.Ok())
            return step;
    }
    folder = std::move(current);
    return Result(FolderResult::Ok);
}

FolderStatus FolderBeneath::OpenParent(const std::string& relative, UniqueFd& parent, std::string& leaf) const
{
    if (!m_status.Ok())
        return m_status;
    std::vector<std::string_view> parts;
    if (!SplitRelative(relative, parts))
        return Result(FolderResult::Outside);
    leaf.assign(parts.back());
    const std::size_t folderLength = relative.size() - leaf.size();
    if (folderLength == 0) {
        parent.Reset(::dup(m_root.Get()));
        return parent.Valid() ? Result(FolderResult::Ok) : FromErrno(errno);
    }
    return OpenFolderPath(relative.substr(0, folderLength - 1), parent);
}

FolderStatus FolderBeneath::OpenFile(const std::string& relative, int flags, UniqueFd& file) const
{
    UniqueFd parent;
    std::string leaf;
    auto status = OpenParent(relative, parent, leaf);
    if (!status.Ok())
        return status;
    const int fd = ::openat(parent.Get(), leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        if (error == EEXIST) {
            // Taken: say so more precisely when a link holds the name.
            struct stat info {};
            if (::fstatat(parent.Get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
                return Result(FolderResult::Link);
        }
        return FromErrno(error);
    }
    UniqueFd opened(fd);
    struct stat info {};
    if (::fstat(opened.Get(), &info) != 0)
        return FromErrno(errno);
    if (!S_ISREG(info.st_mode))
        return Result(FolderResult::NotRegular);
    const int current = ::fcntl(opened.Get(), F_GETFL);
    if (current < 0 || ::fcntl(opened.Get(), F_SETFL, current & ~O_NONBLOCK) != 0)
        return FromErrno(errno);
    file = std::move(opened);
    return Result(FolderResult::Ok);
}

FolderStatus FolderBeneath::OpenForReading(const std::string& relative, UniqueFd& file) const
{
    return OpenFile(relative, O_RDONLY, file);
}

FolderStatus FolderBeneath::OpenForWriting(const std::string& relative, UniqueFd& file) const
{
    // O_TRUNC would empty whatever is opened before fstat can look at it;
    // only regular files can be opened here (links refused, FIFOs and
    // devices refused by type below), so truncate after the check instead.
    UniqueFd opened;
    auto status = OpenFile(relative, O_WRONLY | O_CREAT, opened);
    if (!status.Ok())
        return status;
    if (::ftruncate(opened.Get(), 0) != 0)
        return FromErrno(errno);
    file = std::move(opened);
    return status;
}

FolderStatus FolderBeneath::OpenForAppend(const std::string& relative, UniqueFd& file) const
{
    return OpenFile(relative, O_WRONLY | O_CREAT | O_APPEND, file);
}

FolderStatus FolderBeneath::CreateFresh(const std::string& relative, UniqueFd& file) const
{
    return OpenFile(relative, O_WRONLY | O_CREAT | O_EXCL, file);
}

FolderStatus FolderBeneath::MakeDirectoriesOf(const std::string& relative) const
{
    if (!m_status.Ok())
        return m_status;
    std::vector<std::string_view> parts;
    if (!SplitRelative(relative, parts))
        return Result(FolderResult::Outside);
    UniqueFd current(::dup(m_root.Get()));
    if (!current.Valid())
        return FromErrno(errno);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string name(parts[i]);
        if (::mkdirat(current.Get(), name.c_str(), 0777) != 0 && errno != EEXIST)
            return FromErrno(errno);
        if (const FolderStatus step = StepInto(current, name); !step.Ok())
            return step;
    }
    return Result(FolderResult::Ok);
}

FolderStatus FolderBeneath::Rename(const std::string& from, const std::string& to) const
{
    UniqueFd fromParent;
    std::string fromLeaf;
    auto status = OpenParent(from, fromParent, fromLeaf);
    if (!status.Ok())
        return status;
    UniqueFd toParent;
    std::string toLeaf;
    status = OpenParent(to, toParent, toLeaf);
    if (!status.Ok())
        return status;
    struct stat info {};
    status = StatEntry(fromParent.Get(), fromLeaf, info);
    if (!status.Ok())
        return status;
    // A folder at the target would take the file inside it on some systems;
    // renameat refuses it here, and so do we, by name.
    if (::fstatat(toParent.Get(), toLeaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
        return Result(FolderResult::NotRegular);
    if (::renameat(fromParent.Get(), fromLeaf.c_str(), toParent.Get(), toLeaf.c_str()) != 0)
        return FromErrno(errno);
    return Result(FolderResult::Ok);
}

FolderStatus FolderBeneath::Unlink(const std::string& relative) const
{
    UniqueFd parent;
    std::string leaf;
    auto status = OpenParent(relative, parent, leaf);
    if (!status.Ok())
        return status;
    if (::unlinkat(parent.Get(), leaf.c_str(), 0) != 0)
        return FromErrno(errno);
    return Result(FolderResult::Ok);
}

FolderStatus FolderBeneath::Length(const std::string& relative, std::uint64_t& length) const
{
    UniqueFd parent;
    std::string leaf;
    auto status = OpenParent(relative, parent, leaf);
    if (!status.Ok())
        return status;
    struct stat info {};
    status = StatEntry(parent.Get(), leaf, info);
    if (status.Ok())
        length = static_cast<std::uint64_t>(info.st_size);
    return status;
}

FolderStatus FolderBeneath::Exists(const std::string& relative) const
{
    std::uint64_t ignored = 0;
    return Length(relative, ignored);
}
