#include "media/qchighrestimer.h"

#include <time.h>

qcHighResTimer::Counter qcHighResTimer::monotonicCounter()
{
    return Counter{[] { return int64_t(1000000000); },
                   [] {
                       timespec ts;
                       clock_gettime(CLOCK_MONOTONIC, &ts);
                       return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
                   }};
}

qcHighResTimer::qcHighResTimer(Counter counter) : m_counter(std::move(counter)) {}

void qcHighResTimer::start()
{
    m_ticksPerMs = m_counter.frequency() / 1000;
    m_start = m_lap = m_current = m_counter.count();
}

double qcHighResTimer::toMs(int64_t ticks) const
{
    // Before start() there is no frequency: report 0 rather than divide by it.
    if (m_ticksPerMs <= 0)
        return 0.0;
    return double(ticks) / double(m_ticksPerMs);
}

double qcHighResTimer::elapsed()
{
    m_current = m_counter.count();
    m_last = toMs(m_current - m_start);
    return m_last;
}

double qcHighResTimer::lap()
{
    m_current = m_counter.count();
    m_last = toMs(m_current - m_lap);
    m_lap = m_current;
    return m_last;
}
