#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// MD5 (RFC 1321).
struct Md5Context {
    std::uint32_t count[2];   // bits added so far, low word first
    std::uint32_t state[4];   // A, B, C, D
    unsigned char buffer[64]; // bytes of the incomplete block
    unsigned char digest[16]; // written by Md5Final
};

void Md5Init(Md5Context* context);
void Md5Update(Md5Context* context, const void* bytes, std::size_t length);
void Md5Final(Md5Context* context);
// One compression of sixteen little-endian words into state.
void Md5Transform(std::uint32_t state[4], const std::uint32_t block[16]);

// Results of DigestFile. Anything but DigestFileOk leaves the output untouched.
inline constexpr int DigestFileOk = 0;
inline constexpr int DigestFileCannotOpen = -1; // cannot be opened, or output is null
inline constexpr int DigestFileNoMemory = -2;   // the read buffer could not be allocated
inline constexpr int DigestFileReadError = -3;  // a read failed part way through

// Size of the read buffer DigestFile uses. Each thread keeps one buffer of
// this size and reuses it for every file it digests, so the check run and the
// download run can digest at the same time without sharing it.
inline constexpr std::size_t DigestReadBufferSize = std::size_t{4} << 20;

// Digests a whole file. Returns DigestFileOk with the digest in output (and
// in context->digest), or one of the failures above.
int DigestFile(const std::string& path, Md5Context* context, unsigned char output[16]);
// Digests the whole file open on fd, from its first byte to its end, with
// the same results as DigestFile (DigestFileCannotOpen for a negative fd or
// a null output). Reads with pread: the descriptor's offset is not moved, so
// the same descriptor can then be started (LaunchOpenedProgram) or read on.
int DigestDescriptor(int fd, Md5Context* context, unsigned char output[16]);
// The same, adding the bytes read to *bytesRead as it goes (any thread may
// read it meanwhile), so that a long digest can show how far it is.
int DigestDescriptor(int fd, Md5Context* context, unsigned char output[16], std::atomic<std::uint64_t>* bytesRead);
// 32 lowercase hexadecimal digits.
std::string DigestToHex(const unsigned char digest[16]);
