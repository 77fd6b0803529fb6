#include "device/talkpace.h"

#include <algorithm>

namespace {
// How long the largest lump sets the delay, and how fast the delay shrinks
// afterwards (a tenth of real time).
constexpr double kHoldMs = 4000;
constexpr double kShrinkPerMs = 0.1;
} // namespace

TalkPace::TalkPace(int bytesPerSecond, int blockMs, int budgetMs, int maxDelayMs)
    : m_msPerByte(1000.0 / bytesPerSecond), m_blockMs(blockMs), m_budgetMs(budgetMs),
      m_maxDelayMs(std::max(blockMs, maxDelayMs))
{
    reset();
}

void TalkPace::reset(double talkBeganMs)
{
    m_lumps.clear();
    m_head = m_tail = 0;
    m_beginMs = talkBeganMs;
    m_lastEndMs = -1e300;
    m_peakMs = m_blockMs;
    m_holdUntilMs = 0;
}

void TalkPace::arrived(qint64 bytes, qint64 nowMs)
{
    if (bytes <= 0)
        return;
    const double lumpMs = bytes * m_msPerByte;
    // A lump that overlaps the one before (that one came late, or this one
    // early) is squeezed in behind it, still ending now: recording times
    // never go back, and a late lump does not push every later one back.
    const double endMs = std::max(double(nowMs), m_lastEndMs);
    const double startMs = std::max(endMs - lumpMs, m_lastEndMs);
    m_lumps.push_back({m_tail, m_tail + bytes, startMs, endMs});
    m_tail += bytes;
    m_lastEndMs = endMs;
    // A lump gathered while nobody pumped (the program stalled) can be
    // longer than the queue: the delay stays one the queue can serve.
    if (lumpMs >= delayMs(nowMs)) {
        m_peakMs = std::min(lumpMs, double(m_maxDelayMs));
        m_holdUntilMs = nowMs + std::max(kHoldMs, 2 * m_peakMs);
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

double TalkPace::Lump::recordedMs(qint64 position) const
{
    return startMs + (endMs - startMs) * double(position - begin) / double(end - begin);
}

bool TalkPace::headDue(qint64 nowMs) const
{
    if (m_lumps.empty())
        return false;
    return m_lumps.front().recordedMs(m_head) + delayMs(nowMs) <= nowMs;
}

qint64 TalkPace::positionAt(double ms) const
{
    qint64 position = m_head;
    for (const Lump &l : m_lumps) {
        if (l.endMs < ms) {
            position = l.end;
            continue;
        }
        if (l.startMs < ms) {
            // Its recording times rise evenly from startMs to endMs.
            const qint64 at = l.begin + qint64((ms - l.startMs) / (l.endMs - l.startMs) * double(l.end - l.begin));
            position = std::max(position, std::min(at, l.end));
        }
        break;
    }
    return position;
}

qint64 TalkPace::lateBytes(qint64 nowMs) const
{
    return positionAt(nowMs - delayMs(nowMs) - m_budgetMs) - m_head;
}

qint64 TalkPace::earlyBytes() const
{
    return positionAt(m_beginMs) - m_head;
}
