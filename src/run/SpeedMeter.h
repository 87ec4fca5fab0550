#pragma once

#include <cstdint>
#include <deque>
#include <utility>

// The speed of a download as a player reads it: the bytes received over the
// last two seconds or so, from samples of the running byte count, not the
// speed of the last block alone (a block that arrives within a millisecond
// would read hundreds of MB/s; one that waits on a slow moment far too
// little).
//
// A server that paces its sending (nginx's limit_rate does) delivers in
// bursts: several blocks at one moment, then a wait. A reading taken when
// the first block of a burst arrives would count part of that burst, so the
// window ends at the last moment whose blocks are all in: the samples of the
// latest tick are left out, unless nothing but the start comes before them.
// Ticks are milliseconds of a wrapping 32-bit clock.
//
// One thread at a time (the download run's).
class SpeedMeter {
public:
    static constexpr std::uint32_t kWindowMs = 2000;

    // Starts over: a transfer begins at tick with bytes counted so far.
    void Reset(std::uint32_t tick, std::uint64_t bytes);
    // The byte count at tick (ticks and bytes never go back).
    void Sample(std::uint32_t tick, std::uint64_t bytes);
    // Bytes per second over the window; 0 before any time has passed.
    double BytesPerSecond() const;

private:
    std::deque<std::pair<std::uint32_t, std::uint64_t>> m_samples;
};
