#include "liveview/qcreadretry.h"

#include <QTimerEvent>

qcReadRetry::qcReadRetry(Read read, Tell tell, QObject *parent)
    : QObject(parent), m_read(std::move(read)), m_tell(std::move(tell))
{}

bool qcReadRetry::run()
{
    if (m_timer != -1) {
        killTimer(m_timer);
        m_timer = -1;
    }
    const ReadStatus status = m_read ? m_read() : ReadStatus();
    if (status.ok()) {
        m_told = false;
        return true;
    }
    if (!m_told && m_tell)
        m_tell(status);
    m_told = true;
    m_timer = startTimer(kRetryMs, Qt::CoarseTimer);
    return false;
}

void qcReadRetry::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer)
        run();
    else
        QObject::timerEvent(event);
}
