#pragma once

#include <cstdint>
#include <string>

#include "platform/FolderResult.h"
#include "platform/UniqueFd.h"

// The download folder held open by descriptor, and every file operation
// inside it made relative to that descriptor, so that names from a server
// list, and links planted in the folder, can never reach anything outside.
//
// The folder itself is opened once, following a link if the folder is one
// (the user chose it). Below it nothing follows a link: folders on the way
// are resolved with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) where the
// kernel has it, else component by component with O_NOFOLLOW; the last
// component is always opened with O_NOFOLLOW (AT_SYMLINK_NOFOLLOW for stat).
// Files are opened with O_NONBLOCK, so a FIFO cannot hang the caller, and
// only regular files are accepted; O_NONBLOCK is cleared again before the
// descriptor is handed out.
//
// Relative names use '/' between levels (ListedNameToLocalPath). A name that
// is empty, absolute, or has an empty, "." or ".." component is Outside.
// Results are values (FolderResult); nothing throws. One object may be used
// from one thread at a time; different objects are independent.
class FolderBeneath {
public:
    // How folders on the way are resolved. Auto uses openat2 when the kernel
    // has it; ComponentWalk always walks (the fallback, chosen by tests).
    enum class Resolve { Auto, ComponentWalk };

    // Opens folder ("/x/y" or "/x/y/"). Status() tells whether it worked.
    explicit FolderBeneath(const std::string& folder, Resolve resolve = Resolve::Auto);

    FolderStatus Status() const { return m_status; }

    // Existing regular file, read-only.
    FolderStatus OpenForReading(const std::string& relative, UniqueFd& file) const;
    // Regular file for writing, made when missing, emptied when present.
    FolderStatus OpenForWriting(const std::string& relative, UniqueFd& file) const;
    // Regular file for appending, made when missing.
    FolderStatus OpenForAppend(const std::string& relative, UniqueFd& file) const;
    // A new file (O_CREAT | O_EXCL): Exists when the name is taken, Link when
    // it is taken by a link (which is left alone).
    FolderStatus CreateFresh(const std::string& relative, UniqueFd& file) const;

    // Makes every folder level of relative's folder part, outer first (the
    // last component, the file's own name, is not made). Levels that exist
    // as folders are fine; a link or a file on the way stops it.
    FolderStatus MakeDirectoriesOf(const std::string& relative) const;

    // Renames a regular file; a link or non-file at from is refused. An entry
    // at to is replaced (a link there is replaced, not followed).
    FolderStatus Rename(const std::string& from, const std::string& to) const;
    // Removes a file, or a link itself (never what it points to). Folders are
    // NotRegular.
    FolderStatus Unlink(const std::string& relative) const;

    // Length of a regular file.
    FolderStatus Length(const std::string& relative, std::uint64_t& length) const;
    // Ok when relative names a regular file; otherwise why not.
    FolderStatus Exists(const std::string& relative) const;

    // Whether openat2 is in use (false after ENOSYS, or with ComponentWalk).
    bool UsesOpenat2() const { return m_openat2; }

private:
    FolderStatus OpenFile(const std::string& relative, int flags, UniqueFd& file) const;
    // The folder that holds relative's last component, and that component.
    FolderStatus OpenParent(const std::string& relative, UniqueFd& parent, std::string& leaf) const;
    FolderStatus OpenFolderPath(const std::string& path, UniqueFd& folder) const;

    UniqueFd m_root;
    FolderStatus m_status;
    mutable bool m_openat2 = true;
};
