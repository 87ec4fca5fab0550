#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "planning/Md5.h"

// The MD5 of a file as it is written, block by block, so that a finished
// transfer needs no second read. A resumed file is seeded once by hashing
// the prefix already on disk; a body that starts over from zero resets it.
// One owner, one thread at a time.
class RunningDigest {
public:
    RunningDigest() { Reset(); }

    // Back to the digest of nothing.
    void Reset();
    // Starts over with the first length bytes of the file at path. False when
    // the file cannot be read or is shorter; the digest is then reset.
    bool SeedFromFile(const std::string& path, std::uint64_t length);
    // The same for an open file, read from its start whatever its offset.
    bool SeedFromDescriptor(int fd, std::uint64_t length);
    void Update(const void* data, std::size_t size);
    // Bytes digested so far.
    std::uint64_t Length() const { return m_length; }
    // 32 lowercase hexadecimal digits for the bytes so far; more may follow.
    std::string Hex() const;

private:
    Md5Context m_context;
    std::uint64_t m_length = 0;
};
