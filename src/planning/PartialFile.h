#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "planning/DigestCache.h"
#include "platform/FolderResult.h"
#include "platform/UniqueFd.h"

class FolderBeneath;
class RunningDigest;

// The partial file held open for the blocks of one transfer: each block is
// appended as it arrives. Closed when it goes out of scope.
class PartialAppender {
public:
    PartialAppender() = default;
    explicit PartialAppender(UniqueFd fd) : m_fd(std::move(fd)) {}
    bool IsOpen() const { return m_fd.Get() >= 0; }
    // Appends the whole block. False when it could not all be written.
    bool Append(const char* data, std::size_t size);
    // Drops every byte (a body that starts over from zero).
    bool Restart();

private:
    UniqueFd m_fd;
};

// A listed file on its way to the disk: the bytes fetched so far go into
// "<name>.tmp", beside a "<name>.des" side file holding the 32 digest digits
// they belong to, so that a later retry or a later run continues them. The
// file takes its final name only when its bytes are complete and digest to
// the listed value. This is the one place that knows those names.
//
// Every name is reached through the run's FolderBeneath of the download
// folder, so no link planted in the folder is followed and nothing but a
// regular file is read or written. Plain file operations on the calling
// thread; no state is kept between calls.
class PartialFile {
public:
    using Digest = std::array<char, 32>;

    // The three names of one listed file.
    enum class Name : int { Final = 0, Partial = 1, Side = 2 };

    // folder: the download folder held open; folderPath: its path ("" or
    // ending in '/'), only for the paths shown to the player; relative: the
    // file's name below it ('/' between levels).
    PartialFile(const FolderBeneath& folder, std::string folderPath, std::string relative)
        : m_folder(folder), m_folderPath(std::move(folderPath)), m_relative(std::move(relative))
    {
    }

    // Full paths, for messages.
    std::string Path() const { return FullPath(Name::Final); }
    std::string PartialPath() const { return FullPath(Name::Partial); }
    std::string SidePath() const { return FullPath(Name::Side); }
    std::string FullPath(Name name) const { return m_folderPath + RelativeName(name); }
    // The name below the folder.
    std::string RelativeName(Name name) const;

    // Ok when each of the three names is either free or a regular file, with
    // no link on the way; otherwise the first one that is not, in which.
    FolderStatus CheckNames(Name& which) const;

    // Makes the folders the file's name goes through (they may have gone, or
    // been in the way, since the plan was made).
    FolderStatus MakeFolders() const;

    // The side file's first 32 bytes against the listed digest, byte for
    // byte: 0 when equal or when there is no side file to read, else -1 or 1.
    int CompareSideFile(const Digest& listed) const;

    // Makes the side file hold exactly the digest. Written only when missing
    // or different, through a temporary beside it that is flushed and renamed
    // into place, so a crash never leaves a half-written side file.
    FolderStatus WriteSideFile(const Digest& md5) const;

    // Bytes in the partial file; 0 when there is none.
    std::uint64_t PartialLength() const;

    // The partial file opened for appending (made when missing): what the
    // transfer writes through.
    FolderStatus OpenPartial(UniqueFd& file) const;

    // Whether the partial file's bytes digest to the listed value (hex digits
    // compared without regard to case). False when it cannot be read.
    bool PartialMatches(const Digest& listed) const;

    // The final file's digest text against the listed one, without regard
    // to case (CompareDigestTextIgnoringCase): 0 when equal. A file that
    // cannot be read digests as zeros and so differs.
    int CompareFinal(const Digest& listed) const;

    // Removes one of the names (a link itself, never what it points to).
    // Ok when it is gone or was never there.
    FolderStatus Remove(Name name) const;

    // The partial file opened (made when missing) for appending, beneath the
    // folder as OpenPartial does; out is left closed on failure.
    FolderStatus OpenForAppend(PartialAppender& out) const;
    // Cuts the partial file to nothing (an empty one is made when missing).
    FolderStatus TruncatePartial() const;
    // Starts digest over with the partial file's first length bytes. False
    // when they cannot be read (digest is then reset).
    bool SeedDigest(RunningDigest& digest, std::uint64_t length) const;
    // The identities of the partial file and of the file under its final
    // name, taken from the file opened beneath the folder (never a link).
    std::optional<FileIdentity> PartialIdentity() const;
    std::optional<FileIdentity> FinalIdentity() const;

    // Moves the complete partial file to its final name, then drops the side
    // file. When the rename fails everything is kept as it was.
    FolderStatus Commit() const;

private:
    std::optional<FileIdentity> Identity(Name name) const;

    const FolderBeneath& m_folder;
    std::string m_folderPath;
    std::string m_relative;
};
