#pragma once

#include <QtGlobal>
#include <deque>

// When each queued byte of the microphone's samples is due at the talk
// sender, and when it is too late. An input hands its samples over in lumps
// (40 ms from a source that follows the asked latency, two seconds from one
// that does not): the last sample of a lump is taken as recorded when the
// lump arrived, the others as recorded at the real rate before it, but never
// before the end of the lump ahead of it. A sample is due once it is as old
// as the largest recent lump (at least one block, at most the longest delay
// the queue can serve), so the device gets the even pace of the microphone
// whatever the lumps; it is late when it is older than that by more than the
// budget, which only a sender or a pump that could not keep up lets happen.
class TalkPace
{
public:
    // `bytesPerSecond` of the samples, the smallest delay (one block), the
    // budget and the longest delay, all in milliseconds.
    TalkPace(int bytesPerSecond, int blockMs, int budgetMs, int maxDelayMs);

    // Nothing queued. A talk begun at `talkBeganMs` sends nothing recorded
    // before it (earlyBytes()); the default, for a capture that just opened,
    // sends everything.
    void reset(double talkBeganMs = -1e300);
    // `bytes` arrived at the end of the queue at `nowMs`.
    void arrived(qint64 bytes, qint64 nowMs);
    // `bytes` left the head of the queue, sent or dropped.
    void removed(qint64 bytes);

    // Bytes at the head that are older than the delay and the budget.
    qint64 lateBytes(qint64 nowMs) const;
    // Bytes at the head recorded before the talk began.
    qint64 earlyBytes() const;
    // Whether the head of the queue is as old as the delay.
    bool headDue(qint64 nowMs) const;
    // The delay a sample waits for now, from when it was recorded.
    double delayMs(qint64 nowMs) const;

private:
    struct Lump
    {
        qint64 begin;   // queue position of its first byte
        qint64 end;     // and after its last one
        double startMs; // when its first byte was recorded
        double endMs;   // and its last
        double recordedMs(qint64 position) const;
    };
    // The first position from the head on recorded at `ms` or later.
    qint64 positionAt(double ms) const;

    double m_msPerByte;
    int m_blockMs;
    int m_budgetMs;
    int m_maxDelayMs;
    std::deque<Lump> m_lumps;
    qint64 m_head = 0;
    qint64 m_tail = 0;
    double m_beginMs = 0;
    double m_lastEndMs = -1e300;
    // The largest recent lump is held a while, then the delay shrinks
    // slowly enough that the backlog goes out a little faster than real
    // time, never in a burst and never dropped.
    double m_peakMs = 0;
    double m_holdUntilMs = 0;
};
