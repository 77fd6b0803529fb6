#include "platform/autoresetevent.h"

#include <chrono>

namespace platform {

void AutoResetEvent::set()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
    }
    m_cond.notify_one();
}

bool AutoResetEvent::tryConsume()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool was = m_set;
    m_set = false;
    return was;
}

bool AutoResetEvent::wait(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cond.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [this] { return m_set; }))
        return false;
    m_set = false;
    return true;
}

} // namespace platform
