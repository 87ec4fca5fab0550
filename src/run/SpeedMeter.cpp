#include "run/SpeedMeter.h"

void SpeedMeter::Reset(std::uint32_t tick, std::uint64_t bytes)
{
    m_samples.clear();
    m_samples.emplace_back(tick, bytes);
}

void SpeedMeter::Sample(std::uint32_t tick, std::uint64_t bytes)
{
    m_samples.emplace_back(tick, bytes);
    // What lies two windows back can no longer start a window. Differences
    // are unsigned: a wrap of the clock cancels out.
    while (m_samples.size() > 2 && static_cast<std::uint32_t>(tick - m_samples[1].first) >= 2 * kWindowMs)
        m_samples.pop_front();
}

double SpeedMeter::BytesPerSecond() const
{
    if (m_samples.size() < 2)
        return 0.0;
    // The window's end: the last sample before the latest tick's samples.
    std::size_t end = m_samples.size() - 1;
    while (end > 0 && m_samples[end - 1].first == m_samples.back().first)
        --end;
    end = end > 1 ? end - 1 : m_samples.size() - 1;
    // Its start: the last sample a whole window before the end, else the first.
    std::size_t start = 0;
    for (std::size_t i = end; i-- > 0;) {
        if (static_cast<std::uint32_t>(m_samples[end].first - m_samples[i].first) >= kWindowMs) {
            start = i;
            break;
        }
    }
    const std::uint32_t elapsed = m_samples[end].first - m_samples[start].first;
    const std::uint64_t bytes = m_samples[end].second - m_samples[start].second;
    if (elapsed == 0)
        return 0.0;
    return static_cast<double>(bytes) * 1000.0 / static_cast<double>(elapsed);
}
