#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "planning/RunningDigest.h"

// The hashing thread's name, as ps, top and perf show it.
inline constexpr const char* DigestQueueThreadName = "zorvath-digest";

// Feeds RunningDigests on a thread of its own, so that hashing a file's bytes
// overlaps receiving and writing the next ones. The bytes handed to Update
// are copied into a fixed pool of buffers (allocated once, by the
// constructor); when every buffer is in flight Update waits for the hashing
// thread to give one back, so memory stays at bufferSize * bufferCount.
//
// One queue serves several digests at once; each digest's bytes are hashed in
// the order given. A digest with bytes in flight belongs to the hashing
// thread: its owner calls Settle before reading or changing it again.
// Update and Settle are called from one thread (the one that feeds); the
// destructor hashes what is still queued and joins the thread, so no digest
// is left half-fed.
class DigestQueue {
public:
    DigestQueue(std::size_t bufferSize, std::size_t bufferCount);
    ~DigestQueue();
    DigestQueue(const DigestQueue&) = delete;
    DigestQueue& operator=(const DigestQueue&) = delete;

    // Queues size bytes for digest, copied: data need only live during the
    // call. Waits while no buffer is free.
    void Update(RunningDigest& digest, const void* data, std::size_t size);
    // Waits until every byte queued for digest has been hashed; then digest
    // is the caller's again (Length, Hex, Reset, seeding).
    void Settle(const RunningDigest& digest);

private:
    struct Piece {
        RunningDigest* digest;
        unsigned char* bytes;
        std::size_t size;
    };

    void Hash();

    std::size_t m_bufferSize;
    std::unique_ptr<unsigned char[]> m_memory;
    std::mutex m_mutex;
    // Signalled when a piece is queued or the queue closes (for the hasher),
    // and when a piece is done (for the feeder).
    std::condition_variable m_queued;
    std::condition_variable m_done;
    std::vector<unsigned char*> m_free;
    std::deque<Piece> m_pieces;
    // The digest whose piece the hasher is working on, outside the lock.
    const RunningDigest* m_hashing = nullptr;
    bool m_closing = false;
    std::thread m_thread;
};
