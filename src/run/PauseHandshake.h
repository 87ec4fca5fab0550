#pragma once

#include <condition_variable>
#include <mutex>

// The pause of the download run: the start command asks for it and clears it,
// the download run parks while it is set. The flag and the park share one
// lock, so a resume can never be lost: a resume that comes before the run
// parks clears the flag, and the run then does not park at all; a resume
// that comes while it is parked wakes it, even when the next pause is asked
// at once.
//
// Any thread may call every operation; only the download run parks.
class PauseHandshake {
public:
    // Sets the pause flag (a pause click, or a failure about to park).
    void Request();
    // Clears the flag and wakes a parked run. Returns whether the flag was set.
    bool Resume();
    // Waits while the flag is set. Returns at once when it is not.
    void ParkWhileRequested();
    // Sets the flag and waits until a resume clears it.
    void RequestAndPark();

    bool Requested() const;
    // Whether the run is parked right now.
    bool Parked() const;
    // Back to not paused, not parked (tests; no run may be parked).
    void Reset();

private:
    void ParkLocked(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_resumed;
    bool m_requested = false;
    bool m_parked = false;
    unsigned long long m_resumes = 0;
};
