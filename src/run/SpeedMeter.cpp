#include "run/SpeedMeter.h"

void SpeedMeter::Reset(std::uint32_t tick, std::uint64_t bytes)
{
    m_samples.clear();
    m_samples.emplace_back(tick, bytes);
}

void SpeedMeter::Sample(std::uint32_t tick, std::uint64_t bytes)
{
    m_samples.emplace_back(tick, bytes);
    // Keep one sample at or before the window's start, so the window is
    // always spanned whole. Differences are unsigned: a wrap cancels out.
    while (m_samples.size() > 2 && static_cast<std::uint32_t>(tick - m_samples[1].first) >= kWindowMs)
        m_samples.pop_front();
}

double SpeedMeter::BytesPerSecond() const
{
    if (m_samples.size() < 2)
        return 0.0;
    const auto& [firstTick, firstBytes] = m_samples.front();
    const auto& [lastTick, lastBytes] = m_samples.back();
    const std::uint32_t elapsed = lastTick - firstTick;
    if (elapsed == 0 || lastBytes < firstBytes)
        return 0.0;
    return static_cast<double>(lastBytes - firstBytes) * 1000.0 / static_cast<double>(elapsed);
}
