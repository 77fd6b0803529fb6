#include "media/recordingday.h"

#include "platform/clock.h"

#include <QtGlobal>

namespace {

constexpr qint64 kDayMs = 86400000;
// The stream client takes up a step of the clock within this much: a stamp
// farther from the clock was given before the clock was set.
constexpr qint64 kClockStepMs = 5000;
constexpr qint64 kLateInDay = 86390000;
constexpr qint64 kEarlyInDay = 10000;

// How far apart two times of day lie, across midnight where that is shorter.
qint64 apart(qint64 a, qint64 b)
{
    const qint64 d = qAbs(a - b) % kDayMs;
    return qMin(d, kDayMs - d);
}

} // namespace

void RecordingDay::start()
{
    m_lastDateRead = -1;
    m_stampsFollowClock = false;
    readClock();
    m_date = m_now;
}

QDate RecordingDay::firstFrame(qint64 stamp)
{
    readClock();
    // Stamped a moment before midnight by a clock the stamps follow: the
    // date turned after it, while the file was made.
    if (stamp >= kLateInDay && m_nowMs < kEarlyInDay && m_date == m_now) {
        m_date = m_now.addDays(-1);
        m_stampsFollowClock = true;
    }
    return m_date;
}

void RecordingDay::readClock()
{
    m_nowMs = platform::msecsOfDay();
    if (m_lastDateRead < 0 || m_nowMs >= m_lastDateRead + 1000 || m_nowMs < m_lastDateRead) {
        m_lastDateRead = m_nowMs;
        m_now = platform::clock().now().date();
    }
}

bool RecordingDay::holds(qint64 stamp)
{
    readClock();
    if (m_now == m_date)
        return true;
    // Stamps that never followed the clock tell nothing: the first frame
    // read on the new date ends the file.
    if (!m_stampsFollowClock)
        return false;
    // Stamped on the far side of midnight from the clock now: midnight
    // passed (or the clock was set back across it by a little) after it.
    const bool acrossMidnight =
        m_now > m_date ? stamp >= kLateInDay && m_nowMs < kEarlyInDay : stamp < kEarlyInDay && m_nowMs >= kLateInDay;
    return acrossMidnight || apart(stamp, m_nowMs) > kClockStepMs;
}

void RecordingDay::written(qint64 stamp)
{
    if (m_now == m_date)
        m_stampsFollowClock = apart(stamp, m_nowMs) <= kClockStepMs;
}

bool RecordingDay::leftTheDay()
{
    readClock();
    return m_now != m_date || m_nowMs < kLateInDay;
}
