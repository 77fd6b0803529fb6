#include "platform/stoptoken.h"

namespace platform {

void StopToken::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true, std::memory_order_release);
    }
    m_cond.notify_all();
}

bool StopToken::sleepFor(int ms)
{
    if (ms <= 0)
        return !stopRequested();
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested(); });
}

void StopToken::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop.store(false, std::memory_order_release);
}

} // namespace platform
