#include "liveview/qcreadretry.h"

#include "app/core/database.h"

#include <QTimerEvent>

qcReadRetry::qcReadRetry(qcDatabase *db, Read read, Tell tell, QObject *parent)
    : QObject(parent), m_db(db), m_read(std::move(read)), m_tell(std::move(tell))
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

bool qcReadRetry::retry()
{
    const qcDatabase::NoWait quick(m_db);
    return run();
}

void qcReadRetry::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer)
        retry();
    else
        QObject::timerEvent(event);
}
