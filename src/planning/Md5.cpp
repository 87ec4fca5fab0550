#include "planning/Md5.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kInitialState[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

inline std::uint32_t RotateLeft(std::uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t LoadLittleEndian(const unsigned char* p)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    } else {
        return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
               (std::uint32_t(p[3]) << 24);
    }
}

inline void StoreLittleEndian(unsigned char* p, std::uint32_t word)
{
    p[0] = static_cast<unsigned char>(word);
    p[1] = static_cast<unsigned char>(word >> 8);
    p[2] = static_cast<unsigned char>(word >> 16);
    p[3] = static_cast<unsigned char>(word >> 24);
}

// The round functions are written so that the part not depending on b (the
// value just computed) can be evaluated ahead; that shortens the dependency
// chain, which is what bounds MD5's speed. G is the sum form of
// (b & d) | (c & ~d): the two halves never share a set bit.
#define MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define MD5_G(b, c, d) (((b) & (d)) + ((c) & ~(d)))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))
#define MD5_STEP(f, a, b, c, d, x, t, s)                                                          \
    a += (x) + (t) + f(b, c, d);                                                                    \
    a = RotateLeft(a, s) + (b)

// Compresses count consecutive 64-byte blocks, read straight from data.
template <typename LoadWord>
inline void CompressBlocks(std::uint32_t state[4], std::size_t count, LoadWord word)
{
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (std::size_t block = 0; block < count; ++block) {
        const std::uint32_t x0 = word(block, 0), x1 = word(block, 1), x2 = word(block, 2),
                            x3 = word(block, 3), x4 = word(block, 4), x5 = word(block, 5),
                            x6 = word(block, 6), x7 = word(block, 7), x8 = word(block, 8),
                            x9 = word(block, 9), x10 = word(block, 10), x11 = word(block, 11),
                            x12 = word(block, 12), x13 = word(block, 13), x14 = word(block, 14),
                            x15 = word(block, 15);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(MD5_F, a, b, c, d, x0, 0xd76aa478u, 7);
        MD5_STEP(MD5_F, d, a, b, c, x1, 0xe8c7b756u, 12);
        MD5_STEP(MD5_F, c, d, a, b, x2, 0x242070dbu, 17);
        MD5_STEP(MD5_F, b, c, d, a, x3, 0xc1bdceeeu, 22);
        MD5_STEP(MD5_F, a, b, c, d, x4, 0xf57c0fafu, 7);
        MD5_STEP(MD5_F, d, a, b, c, x5, 0x4787c62au, 12);
        MD5_STEP(MD5_F, c, d, a, b, x6, 0xa8304613u, 17);
        MD5_STEP(MD5_F, b, c, d, a, x7, 0xfd469501u, 22);
        MD5_STEP(MD5_F, a, b, c, d, x8, 0x698098d8u, 7);
        MD5_STEP(MD5_F, d, a, b, c, x9, 0x8b44f7afu, 12);
        MD5_STEP(MD5_F, c, d, a, b, x10, 0xffff5bb1u, 17);
        MD5_STEP(MD5_F, b, c, d, a, x11, 0x895cd7beu, 22);
        MD5_STEP(MD5_F, a, b, c, d, x12, 0x6b901122u, 7);
        MD5_STEP(MD5_F, d, a, b, c, x13, 0xfd987193u, 12);
        MD5_STEP(MD5_F, c, d, a, b, x14, 0xa679438eu, 17);
        MD5_STEP(MD5_F, b, c, d, a, x15, 0x49b40821u, 22);

        MD5_STEP(MD5_G, a, b, c, d, x1, 0xf61e2562u, 5);
        MD5_STEP(MD5_G, d, a, b, c, x6, 0xc040b340u, 9);
        MD5_STEP(MD5_G, c, d, a, b, x11, 0x265e5a51u, 14);
        MD5_STEP(MD5_G, b, c, d, a, x0, 0xe9b6c7aau, 20);
        MD5_STEP(MD5_G, a, b, c, d, x5, 0xd62f105du, 5);
        MD5_STEP(MD5_G, d, a, b, c, x10, 0x02441453u, 9);
        MD5_STEP(MD5_G, c, d, a, b, x15, 0xd8a1e681u, 14);
        MD5_STEP(MD5_G, b, c, d, a, x4, 0xe7d3fbc8u, 20);
        MD5_STEP(MD5_G, a, b, c, d, x9, 0x21e1cde6u, 5);
        MD5_STEP(MD5_G, d, a, b, c, x14, 0xc33707d6u, 9);
        MD5_STEP(MD5_G, c, d, a, b, x3, 0xf4d50d87u, 14);
        MD5_STEP(MD5_G, b, c, d, a, x8, 0x455a14edu, 20);
        MD5_STEP(MD5_G, a, b, c, d, x13, 0xa9e3e905u, 5);
        MD5_STEP(MD5_G, d, a, b, c, x2, 0xfcefa3f8u, 9);
        MD5_STEP(MD5_G, c, d, a, b, x7, 0x676f02d9u, 14);
        MD5_STEP(MD5_G, b, c, d, a, x12, 0x8d2a4c8au, 20);

        MD5_STEP(MD5_H, a, b, c, d, x5, 0xfffa3942u, 4);
        MD5_STEP(MD5_H, d, a, b, c, x8, 0x8771f681u, 11);
        MD5_STEP(MD5_H, c, d, a, b, x11, 0x6d9d6122u, 16);
        MD5_STEP(MD5_H, b, c, d, a, x14, 0xfde5380cu, 23);
        MD5_STEP(MD5_H, a, b, c, d, x1, 0xa4beea44u, 4);
        MD5_STEP(MD5_H, d, a, b, c, x4, 0x4bdecfa9u, 11);
        MD5_STEP(MD5_H, c, d, a, b, x7, 0xf6bb4b60u, 16);
        MD5_STEP(MD5_H, b, c, d, a, x10, 0xbebfbc70u, 23);
        MD5_STEP(MD5_H, a, b, c, d, x13, 0x289b7ec6u, 4);
        MD5_STEP(MD5_H, d, a, b, c, x0, 0xeaa127fau, 11);
        MD5_STEP(MD5_H, c, d, a, b, x3, 0xd4ef3085u, 16);
        MD5_STEP(MD5_H, b, c, d, a, x6, 0x04881d05u, 23);
        MD5_STEP(MD5_H, a, b, c, d, x9, 0xd9d4d039u, 4);
        MD5_STEP(MD5_H, d, a, b, c, x12, 0xe6db99e5u, 11);
        MD5_STEP(MD5_H, c, d, a, b, x15, 0x1fa27cf8u, 16);
        MD5_STEP(MD5_H, b, c, d, a, x2, 0xc4ac5665u, 23);

        MD5_STEP(MD5_I, a, b, c, d, x0, 0xf4292244u, 6);
        MD5_STEP(MD5_I, d, a, b, c, x7, 0x432aff97u, 10);
        MD5_STEP(MD5_I, c, d, a, b, x14, 0xab9423a7u, 15);
        MD5_STEP(MD5_I, b, c, d, a, x5, 0xfc93a039u, 21);
        MD5_STEP(MD5_I, a, b, c, d, x12, 0x655b59c3u, 6);
        MD5_STEP(MD5_I, d, a, b, c, x3, 0x8f0ccc92u, 10);
        MD5_STEP(MD5_I, c, d, a, b, x10, 0xffeff47du, 15);
        MD5_STEP(MD5_I, b, c, d, a, x1, 0x85845dd1u, 21);
        MD5_STEP(MD5_I, a, b, c, d, x8, 0x6fa87e4fu, 6);
        MD5_STEP(MD5_I, d, a, b, c, x15, 0xfe2ce6e0u, 10);
        MD5_STEP(MD5_I, c, d, a, b, x6, 0xa3014314u, 15);
        MD5_STEP(MD5_I, b, c, d, a, x13, 0x4e0811a1u, 21);
        MD5_STEP(MD5_I, a, b, c, d, x4, 0xf7537e82u, 6);
        MD5_STEP(MD5_I, d, a, b, c, x11, 0xbd3af235u, 10);
        MD5_STEP(MD5_I, c, d, a, b, x2, 0x2ad7d2bbu, 15);
        MD5_STEP(MD5_I, b, c, d, a, x9, 0xeb86d391u, 21);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I
#undef MD5_STEP

void CompressBytes(std::uint32_t state[4], const unsigned char* data, std::size_t blocks)
{
    CompressBlocks(state, blocks, [data](std::size_t block, int i) {
        return LoadLittleEndian(data + block * 64 + i * 4);
    });
}

std::uint64_t BitCount(const Md5Context* context)
{
    return (std::uint64_t(context->count[1]) << 32) | context->count[0];
}

// Frees the thread's read buffer when the thread ends.
struct ReadBuffer {
    std::unique_ptr<unsigned char[]> bytes;
};

// The calling thread's read buffer, allocated on first use; null when the
// allocation fails (a later call tries again).
unsigned char* ThreadReadBuffer()
{
    thread_local ReadBuffer buffer;
    if (!buffer.bytes)
        buffer.bytes.reset(new (std::nothrow) unsigned char[DigestReadBufferSize]);
    return buffer.bytes.get();
}

} // namespace

void Md5Init(Md5Context* context)
{
    context->count[0] = 0;
    context->count[1] = 0;
    std::memcpy(context->state, kInitialState, sizeof kInitialState);
}

void Md5Update(Md5Context* context, const void* bytes, std::size_t length)
{
    const auto* input = static_cast<const unsigned char*>(bytes);
    const std::uint64_t bits = BitCount(context);
    std::size_t index = static_cast<std::size_t>((bits >> 3) & 63);
    // The count is modulo 2^64 bits, as RFC 1321 keeps it.
    const std::uint64_t newBits = bits + (std::uint64_t(length) << 3);
    context->count[0] = static_cast<std::uint32_t>(newBits);
    context->count[1] = static_cast<std::uint32_t>(newBits >> 32);

    if (index != 0) {
        const std::size_t room = 64 - index;
        if (length < room) {
            std::memcpy(context->buffer + index, input, length);
            return;
        }
        std::memcpy(context->buffer + index, input, room);
        CompressBytes(context->state, context->buffer, 1);
        input += room;
        length -= room;
    }
    const std::size_t blocks = length / 64;
    if (blocks != 0) {
        CompressBytes(context->state, input, blocks);
        input += blocks * 64;
        length -= blocks * 64;
    }
    if (length != 0)
        std::memcpy(context->buffer, input, length);
}

void Md5Final(Md5Context* context)
{
    unsigned char lengthBytes[8];
    StoreLittleEndian(lengthBytes, context->count[0]);
    StoreLittleEndian(lengthBytes + 4, context->count[1]);

    static const unsigned char padding[64] = {0x80};
    const std::size_t index = (context->count[0] >> 3) & 63;
    const std::size_t padLength = index < 56 ? 56 - index : 120 - index;
    Md5Update(context, padding, padLength);
    Md5Update(context, lengthBytes, 8);

    for (int i = 0; i < 4; ++i)
        StoreLittleEndian(context->digest + 4 * i, context->state[i]);
}

void Md5Transform(std::uint32_t state[4], const std::uint32_t block[16])
{
    CompressBlocks(state, 1, [block](std::size_t, int i) { return block[i]; });
}

int DigestDescriptor(int fd, Md5Context* context, unsigned char output[16])
{
    return DigestDescriptor(fd, context, output, nullptr);
}

int DigestDescriptor(int fd, Md5Context* context, unsigned char output[16], std::atomic<std::uint64_t>* bytesRead)
{
    if (output == nullptr || context == nullptr || fd < 0)
        return DigestFileCannotOpen;
    unsigned char* buffer = ThreadReadBuffer();
    if (buffer == nullptr)
        return DigestFileNoMemory;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    Md5Init(context);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, DigestReadBufferSize, offset);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // A digest of part of the file would be reported as the file's
            // digest; say it failed instead.
            return DigestFileReadError;
        }
        Md5Update(context, buffer, static_cast<std::size_t>(got));
        offset += got;
        if (bytesRead != nullptr)
            *bytesRead += static_cast<std::uint64_t>(got);
    }
    Md5Final(context);
    std::memcpy(output, context->digest, 16);
    return DigestFileOk;
}

int DigestFile(const std::string& path, Md5Context* context, unsigned char output[16])
{
    if (output == nullptr || context == nullptr)
        return DigestFileCannotOpen;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return DigestFileCannotOpen;
    const int result = DigestDescriptor(fd, context, output);
    ::close(fd);
    return result;
}

std::string DigestToHex(const unsigned char digest[16])
{
    static const char hexDigits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = hexDigits[digest[i] >> 4];
        text[2 * i + 1] = hexDigits[digest[i] & 0x0f];
    }
    return text;
}
