#include "transfer/BodyBlocks.h"

#include <algorithm>

bool BodyBlocks::Add(const char* data, std::size_t size, const Emit& emit)
{
    while (size > 0) {
        // A whole block straight from curl's buffer needs no copy.
        if (m_bytes.empty() && size >= m_blockSize) {
            if (!emit(data, m_blockSize))
                return false;
            data += m_blockSize;
            size -= m_blockSize;
            continue;
        }
        const auto take = std::min(size, m_blockSize - m_bytes.size());
        m_bytes.insert(m_bytes.end(), data, data + take);
        data += take;
        size -= take;
        if (m_bytes.size() == m_blockSize) {
            const bool more = emit(m_bytes.data(), m_bytes.size());
            m_bytes.clear();
            if (!more)
                return false;
        }
    }
    return true;
}

bool BodyBlocks::Flush(const Emit& emit)
{
    if (m_bytes.empty())
        return true;
    const bool more = emit(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
    return more;
}

void BodyBlocks::Release()
{
    std::vector<char>().swap(m_bytes);
}
