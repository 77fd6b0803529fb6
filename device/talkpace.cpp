#include "device/talkpace.h"

#include <algorithm>

namespace {
// How long the largest lump sets the delay, and how fast the delay shrinks
// afterwards (a tenth of real time).
constexpr double kHoldMs = 4000;
constexpr double kShrinkPerMs = 0.1;
} // namespace

TalkPace::TalkPace(int bytesPerSecond, int blockMs, int budgetMs)
    : m_msPerByte(1000.0 / bytesPerSecond), m_blockMs(blockMs), m_budgetMs(budgetMs)
{
    reset();
}

void TalkPace::reset()
{
    m_lumps.clear();
    m_head = m_tail = 0;
    m_lastEndMs = -1e300;
    m_peakMs = m_blockMs;
    m_holdUntilMs = 0;
}

void TalkPace::arrived(qint64 bytes, qint64 nowMs)
{
    if (bytes <= 0)
        return;
    const double lumpMs = bytes * m_msPerByte;
    // A lump that overlaps the one before (the input was early) follows it,
    // so that recording times never go back.
    const double startMs = std::max(double(nowMs) - lumpMs, m_lastEndMs);
    m_lumps.push_back({m_tail, m_tail + bytes, startMs});
    m_tail += bytes;
    m_lastEndMs = startMs + lumpMs;
    if (lumpMs >= delayMs(nowMs)) {
        m_peakMs = lumpMs;
        m_holdUntilMs = nowMs + std::max(kHoldMs, 2 * lumpMs);
    }
}

void TalkPace::removed(qint64 bytes)
{
    m_head = std::min(m_tail, m_head + std::max<qint64>(0, bytes));
    while (!m_lumps.empty() && m_lumps.front().end <= m_head)
        m_lumps.pop_front();
}

double TalkPace::delayMs(qint64 nowMs) const
{
    const double shrunk = nowMs > m_holdUntilMs ? (nowMs - m_holdUntilMs) * kShrinkPerMs : 0;
    return std::max(double(m_blockMs), m_peakMs - shrunk);
}

bool TalkPace::headDue(qint64 nowMs) const
{
    if (m_lumps.empty())
        return false;
    const Lump &l = m_lumps.front();
    return l.startMs + (m_head - l.begin) * m_msPerByte + delayMs(nowMs) <= nowMs;
}

qint64 TalkPace::lateBytes(qint64 nowMs) const
{
    const double oldest = nowMs - delayMs(nowMs) - m_budgetMs;
    qint64 position = m_head;
    for (const Lump &l : m_lumps) {
        const qint64 limit = l.begin + qint64((oldest - l.startMs) / m_msPerByte);
        position = std::max(position, std::min(limit, l.end));
        if (limit < l.end)
            break;
    }
    return position - m_head;
}
