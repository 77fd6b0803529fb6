#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// An event that lets one waiter through per set() and then closes again, as
// a Win32 auto-reset event does. Setting an event that is already set changes
// nothing.
class AutoResetEvent
{
public:
    void set();
    // The zero-time wait: true, and closed again, when the event was set.
    bool tryConsume();
    // Waits up to ms milliseconds for the event; true, and closed again, when
    // it came.
    bool wait(int ms);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_set = false;
};

} // namespace platform
