#pragma once

#include <array>
#include <cstdint>
#include <string>

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

    // Moves the complete partial file to its final name, then drops the side
    // file. Returns 0, or the errno of the failed rename (everything is then
    // kept as it was).
    int Commit() const;

private:
    std::string m_path;
};

// Removes a file. True when it is gone (or was never there).
bool RemoveFile(const std::string& path);
