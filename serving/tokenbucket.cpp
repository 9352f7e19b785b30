#include "serving/tokenbucket.h"

#include <algorithm>
#include <cmath>

void TokenBucket::setRate(double linesPerSecond, int burst, qint64 at)
{
    m_linesPerSecond = std::isfinite(linesPerSecond) ? std::max(0.0, linesPerSecond) : 0.0;
    m_burst = std::max(1, burst);
    m_tokens = m_burst;
    m_refilledAtMs = at;
}

void TokenBucket::refill(qint64 at)
{
    if (!isLimited())
        return;
    m_tokens = std::min(m_burst, m_tokens + double(at - m_refilledAtMs) * m_linesPerSecond / 1000.0);
    m_refilledAtMs = at;
}

void TokenBucket::take(double lines)
{
    if (isLimited())
        m_tokens -= lines;
}

void TokenBucket::spend(double lines, qint64 at)
{
    if (!isLimited() || lines <= 0)
        return;
    refill(at);
    m_tokens = std::max(m_tokens - lines, -m_linesPerSecond * 60);
}

qint64 TokenBucket::timeFor(double lines) const
{
    if (!isLimited() || lines <= 0)
        return 0;
    return qint64(std::ceil(lines * 1000.0 / m_linesPerSecond));
}

qint64 TokenBucket::untilNextLine() const
{
    return mayGo() ? 0 : qint64(std::ceil((1 - m_tokens) * 1000.0 / m_linesPerSecond));
}
