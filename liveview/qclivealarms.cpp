#include "liveview/qclivealarms.h"

#include "app/core/currentuser.h"
#include "app/core/loghelper.h"
#include "app/widgets/statusbutton.h"

#include <QTimerEvent>

qcLiveAlarms::qcLiveAlarms(StatusButton *button, QObject *parent) : QObject(parent), m_button(button) {}

QString qcLiveAlarms::logName(int type)
{
    // As the log has always spelt them; the alarm window uses the language file.
    static const char *const names[] = {
        "Motion detection",        "PIR",      "IO", "Cross Line", "Instrusion", "Human Detection", "Face Detection",
        "Object left/Object lost", "Loitering"};
    return type >= 65 && type <= 73 ? QLatin1String(names[type - 65]) : QStringLiteral("Unknown");
}

void qcLiveAlarms::arrive(const _st_alarm_item &alarm)
{
    m_alarms.append(alarm);
    while (m_alarms.size() > kMaxAlarms)
        m_alarms.removeFirst();
    if (!m_blinking)
        blinkStep();
    else
        m_ticks = 0;
    writeSystemLog(g_curUserName, QStringLiteral("device alarm"), alarm.devname, alarm.ipaddr,
                   QStringLiteral("type of alarm is <%1>").arg(logName(alarm.type)), kLogDeviceAlarm);
}

void qcLiveAlarms::blinkStep()
{
    if (!m_blinking) {
        m_timerId = startTimer(kBlinkMs, Qt::CoarseTimer);
        m_blinking = true;
        m_ticks = 0;
    }
    if (m_ticks > kBlinkSteps) {
        m_button->setStatus(false, 0);
        m_blinking = false;
        m_ticks = 0;
        killTimer(m_timerId);
        m_timerId = -1;
        return;
    }
    m_button->setStatus(true, m_ticks % 2 ? 0 : 2);
    ++m_ticks;
}

void qcLiveAlarms::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timerId)
        blinkStep();
    else
        QObject::timerEvent(event);
}
