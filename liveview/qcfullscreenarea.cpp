#include "liveview/qcfullscreenarea.h"

#include "platform/desktop/windowframe.h"

#include <QScreen>
#include <QWidget>

qcFullScreenArea::qcFullScreenArea(QWidget *area)
    : QObject(area), m_area(area), m_frame(new platform::WindowManagerFrame(area, this))
{
    m_giveUp.setSingleShot(true);
    m_giveUp.setInterval(kReleaseWaitMs);
    connect(&m_giveUp, &QTimer::timeout, this, &qcFullScreenArea::putBack);
    // Not from inside Qt's handling of the window system's event.
    connect(
        m_frame, &platform::WindowManagerFrame::released, this,
        [this] {
            if (m_returning)
                putBack();
        },
        Qt::QueuedConnection);
}

void qcFullScreenArea::enter()
{
    m_entered = true;
    m_returning = false;
    m_giveUp.stop();
    const QScreen *screen = m_area->window()->screen();
    m_area->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // Without a window manager nobody acts on the full-screen state, and
    // the area would keep its grid size at the screen's corner.
    if (screen)
        m_area->setGeometry(screen->geometry());
    m_area->showFullScreen();
}

void qcFullScreenArea::leave()
{
    m_entered = false;
    if (!m_frame->isHeld()) {
        putBack();
        return;
    }
    m_returning = true;
    m_area->hide();
    m_giveUp.start();
}

void qcFullScreenArea::putBack()
{
    m_returning = false;
    m_giveUp.stop();
    m_area->setWindowFlags(Qt::SubWindow);
    m_area->showNormal();
}
