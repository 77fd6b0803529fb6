#pragma once

#include "platform/clock.h"

#include <QElapsedTimer>

#include <mutex>

namespace testsupport {

// A clock that runs at real speed from a chosen start and can be set or
// jump, as the computer's clock does when someone sets it.
class RunningClock : public platform::Clock
{
public:
    explicit RunningClock(const QDateTime &start) { set(start); }
    QDateTime now() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_start.addMSecs(m_timer.elapsed());
    }
    void set(const QDateTime &t)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_start = t;
        m_timer.start();
    }
    void jump(qint64 ms)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_start = m_start.addMSecs(ms);
    }

private:
    mutable std::mutex m_mutex;
    QDateTime m_start;
    QElapsedTimer m_timer;
};

} // namespace testsupport
