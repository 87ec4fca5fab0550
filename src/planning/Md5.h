#pragma once

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

// Digests a whole file. Returns 0, or -1 when the file cannot be opened or
// output is null (output untouched then).
int DigestFile(const std::string& path, Md5Context* context, unsigned char output[16]);
// 32 lowercase hexadecimal digits.
std::string DigestToHex(const unsigned char digest[16]);
