#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// Gathers a body's pieces (as curl hands them over) into blocks of up to
// blockSize bytes. Memory grows with the bytes held, never past one block,
// and is given back by Release. One job, one thread.
class BodyBlocks {
public:
    // Takes one block; false stops the gathering.
    using Emit = std::function<bool(const char* data, std::size_t size)>;

    explicit BodyBlocks(std::size_t blockSize) : m_blockSize(blockSize) {}

    // Adds bytes; each block that fills is emitted at once. False when an
    // emit said stop (bytes after that block are dropped).
    bool Add(const char* data, std::size_t size, const Emit& emit);
    // Emits what is held as a last, shorter block (nothing when empty).
    bool Flush(const Emit& emit);
    std::size_t Held() const { return m_bytes.size(); }
    // Drops what is held and frees the memory.
    void Release();

private:
    std::size_t m_blockSize;
    std::vector<char> m_bytes;
};
