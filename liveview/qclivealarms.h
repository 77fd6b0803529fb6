#pragma once

#include "app/core/records.h"

#include <QList>
#include <QObject>

class StatusButton;

// The live page's alarms: the list of the latest alarms, the blinking of the
// alarm button and the system-log entry of each alarm.
class qcLiveAlarms : public QObject
{
    Q_OBJECT
public:
    static const int kMaxAlarms = 800;
    static const int kBlinkMs = 500;
    static const int kBlinkSteps = 20;

    qcLiveAlarms(StatusButton *button, QObject *parent);

    // Keeps the alarm, blinks (or lengthens a running blink) and logs it.
    void arrive(const _st_alarm_item &alarm);
    // One step of the blink; the timer drives it, tests may too.
    void blinkStep();
    void clear() { m_alarms.clear(); }

    const QList<_st_alarm_item> &alarms() const { return m_alarms; }
    bool isBlinking() const { return m_blinking; }
    int blinkTicks() const { return m_ticks; }
    int blinkTimerId() const { return m_timerId; }
    // The fixed English name the log uses for an alarm type.
    static QString logName(int type);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    StatusButton *m_button;
    QList<_st_alarm_item> m_alarms;
    bool m_blinking = false;
    int m_ticks = 0;
    int m_timerId = -1;
};
