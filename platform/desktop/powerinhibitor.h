#pragma once

#include <QString>

namespace platform {

// Keeps the screen saver, monitor power-off and system suspend away while
// held, through the desktop's ScreenSaver service on the session bus and
// logind on the system bus. Where neither is offered nothing happens.
class PowerInhibitor
{
public:
    PowerInhibitor() = default;
    ~PowerInhibitor();
    PowerInhibitor(const PowerInhibitor &) = delete;
    PowerInhibitor &operator=(const PowerInhibitor &) = delete;

    // True when at least one of the two services took the inhibition.
    // A second call while held changes nothing.
    bool acquire(const QString &reason);
    void release();

    bool isHeld() const { return m_haveCookie || m_sleepFd >= 0; }

private:
    bool m_haveCookie = false;
    quint32 m_cookie = 0;
    int m_sleepFd = -1;
};

} // namespace platform
