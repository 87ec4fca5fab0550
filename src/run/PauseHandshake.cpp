#include "run/PauseHandshake.h"

void PauseHandshake::Request()
{
    std::lock_guard lock(m_mutex);
    m_requested = true;
}

bool PauseHandshake::Resume()
{
    std::lock_guard lock(m_mutex);
    if (!m_requested)
        return false;
    m_requested = false;
    ++m_resumes;
    m_resumed.notify_all();
    return true;
}

void PauseHandshake::ParkWhileRequested()
{
    std::unique_lock lock(m_mutex);
    if (m_requested)
        ParkLocked(lock);
}

void PauseHandshake::RequestAndPark()
{
    std::unique_lock lock(m_mutex);
    m_requested = true;
    ParkLocked(lock);
}

void PauseHandshake::ParkLocked(std::unique_lock<std::mutex>& lock)
{
    // Woken by the next resume, even when a new pause is asked right after
    // it: that one is for the next park.
    const unsigned long long seen = m_resumes;
    m_parked = true;
    m_resumed.wait(lock, [&] { return m_resumes != seen; });
    m_parked = false;
}

bool PauseHandshake::Requested() const
{
    std::lock_guard lock(m_mutex);
    return m_requested;
}

bool PauseHandshake::Parked() const
{
    std::lock_guard lock(m_mutex);
    return m_parked;
}

void PauseHandshake::Reset()
{
    std::lock_guard lock(m_mutex);
    m_requested = false;
    m_parked = false;
}
