#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// Cooperative stop for worker threads: the owner calls requestStop(), the
// worker notices it at its next check or wakes early from sleepFor().
class StopToken
{
public:
    void requestStop();
    bool stopRequested() const { return m_stop.load(std::memory_order_acquire); }

    // Sleeps up to ms milliseconds; returns false when woken by a stop request.
    bool sleepFor(int ms);

    // Makes the token usable again after the worker has ended (restartable threads).
    void reset();

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cond;
};

} // namespace platform
