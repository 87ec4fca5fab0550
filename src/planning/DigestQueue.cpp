#include "planning/DigestQueue.h"

#include <algorithm>
#include <cstring>

#include <pthread.h>

DigestQueue::DigestQueue(std::size_t bufferSize, std::size_t bufferCount)
    : m_bufferSize(std::max<std::size_t>(1, bufferSize)),
      m_memory(new unsigned char[m_bufferSize * std::max<std::size_t>(1, bufferCount)])
{
    for (std::size_t i = 0; i < std::max<std::size_t>(1, bufferCount); ++i)
        m_free.push_back(m_memory.get() + i * m_bufferSize);
    m_thread = std::thread([this] { Hash(); });
}

DigestQueue::~DigestQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_queued.notify_one();
    m_thread.join();
}

void DigestQueue::Update(RunningDigest& digest, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        unsigned char* buffer = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_done.wait(lock, [this] { return !m_free.empty(); });
            buffer = m_free.back();
            m_free.pop_back();
        }
        // The copy is made outside the lock, while the hasher works.
        const std::size_t take = std::min(size, m_bufferSize);
        std::memcpy(buffer, bytes, take);
        {
            std::lock_guard lock(m_mutex);
            m_pieces.push_back(Piece{&digest, buffer, take});
        }
        m_queued.notify_one();
        bytes += take;
        size -= take;
    }
}

void DigestQueue::Settle(const RunningDigest& digest)
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] {
        if (m_hashing == &digest)
            return false;
        return std::none_of(m_pieces.begin(), m_pieces.end(), [&](const Piece& piece) { return piece.digest == &digest; });
    });
}

void DigestQueue::Hash()
{
    pthread_setname_np(pthread_self(), DigestQueueThreadName);
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Closing still hashes every piece queued before.
        m_queued.wait(lock, [this] { return !m_pieces.empty() || m_closing; });
        if (m_pieces.empty())
            return;
        const Piece piece = m_pieces.front();
        m_pieces.pop_front();
        m_hashing = piece.digest;
        lock.unlock();
        piece.digest->Update(piece.bytes, piece.size);
        lock.lock();
        m_hashing = nullptr;
        m_free.push_back(piece.bytes);
        m_done.notify_all();
    }
}
