#include "run/SourceOrder.h"

#include <algorithm>

SourceOrder::SourceOrder(const std::vector<std::string>& bases)
{
    for (const std::string& base : bases) {
        if (std::find(m_bases.begin(), m_bases.end(), base) != m_bases.end())
            continue;
        m_order.push_back(m_bases.size());
        m_bases.push_back(base);
    }
}

void SourceOrder::Tried::Add(std::size_t source)
{
    if (m_tried.size() <= source)
        m_tried.resize(source + 1, false);
    m_tried[source] = true;
}

std::size_t SourceOrder::Next(const Tried& tried) const
{
    for (const std::size_t source : m_order) {
        if (!tried.Has(source))
            return source;
    }
    return Count();
}

void SourceOrder::Failed(std::size_t source, TransferFault fault)
{
    if (fault == TransferFault::None || fault == TransferFault::Refused)
        return;
    const auto at = std::find(m_order.begin(), m_order.end(), source);
    if (at == m_order.end())
        return;
    std::rotate(at, at + 1, m_order.end());
}
