#include "cli/RetryPolicy.h"

#include <algorithm>

RetryPolicy::Decision RetryPolicy::OnFailure(int entry, std::uint64_t bytesDone)
{
    const bool progressed = m_anyFailure && bytesDone > m_bytesAtFailure;
    if (entry != m_entry || progressed)
        m_inRow = 0;
    m_entry = entry;
    m_anyFailure = true;
    m_bytesAtFailure = bytesDone;
    ++m_inRow;

    Decision decision;
    decision.failuresInRow = m_inRow;
    decision.giveUp = m_inRow > m_retries;
    double wait = m_firstWait;
    for (int i = 1; i < m_inRow && wait < m_longestWait; ++i)
        wait *= 2;
    decision.waitSeconds = std::min(wait, std::max(m_longestWait, m_firstWait));
    return decision;
}
