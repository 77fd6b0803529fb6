#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

namespace platform {
class WindowManagerFrame;
}

// Takes the live page's video area out of the page as a frameless
// full-screen window and puts it back. A window manager that framed the
// area lets go of it only after it was hidden and the manager came round to
// it; put into the page before that, the area would be taken back by the
// manager and show as a framed window of its own over the main window while
// the page stays empty. So the return hides the area first and finishes
// once the manager released it (or after kReleaseWaitMs, for a manager that
// never says so).
class qcFullScreenArea : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReleaseWaitMs = 3000;

    explicit qcFullScreenArea(QWidget *area);

    void enter();
    void leave();
    void toggle() { m_entered ? leave() : enter(); }
    // Entered and not left since; the return may still be under way.
    bool isFullScreen() const { return m_entered; }

private:
    void putBack();

    QWidget *m_area;
    platform::WindowManagerFrame *m_frame;
    QTimer m_giveUp;
    bool m_entered = false;
    bool m_returning = false;
};
