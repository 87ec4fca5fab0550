#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "planning/DigestCache.h"
#include "platform/UniqueFd.h"

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
// "<path>.tmp", beside a "<path>.des" side file holding the 32 digest digits
// they belong to, so that a later retry or a later run continues them. The
// file takes its final name only when its bytes are complete and digest to
// the listed value. This is the one place that knows those names.
//
// Plain file operations on the calling thread; no state is kept between
// calls.
class PartialFile {
public:
    using Digest = std::array<char, 32>;

    explicit PartialFile(std::string path) : m_path(std::move(path)) {}

    const std::string& Path() const { return m_path; }
    std::string PartialPath() const { return m_path + ".tmp"; }
    std::string SidePath() const { return m_path + ".des"; }

    // The side file's first 32 bytes against the listed digest, byte for
    // byte: 0 when equal or when there is no side file to read, else -1 or 1.
    int CompareSideFile(const Digest& listed) const;

    // Makes the side file hold exactly the digest. Written only when missing
    // or different, through a temporary beside it that is flushed and renamed
    // into place, so a crash never leaves a half-written side file. False when
    // it could not be written.
    bool WriteSideFile(const Digest& md5) const;

    // Bytes in the partial file; 0 when there is none.
    std::uint64_t PartialLength() const;

    // Whether the partial file's bytes digest to the listed value (hex digits
    // compared without regard to case). False when it cannot be read.
    bool PartialMatches(const Digest& listed) const;

    // Opens (creates) the partial file for appending; not open on failure.
    PartialAppender OpenForAppend() const;
    // Cuts the partial file to nothing. True when done (or there is none).
    bool TruncatePartial() const;
    // Starts digest over with the partial file's first length bytes. False
    // when they cannot be read (digest is then reset).
    bool SeedDigest(RunningDigest& digest, std::uint64_t length) const;
    // The identities of the partial file and of the file under its final name.
    std::optional<FileIdentity> PartialIdentity() const;
    std::optional<FileIdentity> FinalIdentity() const;

    // Moves the complete partial file to its final name, then drops the side
    // file. Returns 0, or the errno of the failed rename (everything is then
    // kept as it was).
    int Commit() const;

private:
    std::string m_path;
};

// Removes a file. True when it is gone (or was never there).
bool RemoveFile(const std::string& path);
