#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace testsupport {

// Ends the run at the bound while a blocking call it watches has not returned, so a hang fails there with the call
// named rather than at ctest's time-out; how soon the call returns is not checked.
class Watchdog
{
public:
    Watchdog(int boundMs, const char *what)
        : m_thread([this, boundMs, what] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_cv.wait_for(lock, std::chrono::milliseconds(boundMs), [this] { return m_done; }))
                  qFatal("%s has not returned after %d ms", what, boundMs);
          })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace testsupport
