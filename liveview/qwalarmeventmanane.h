#pragma once

#include "app/widgets/basewindow.h"

#include <QDateTime>

class QPushButton;
class QTableWidget;

// Window listing device alarms: device name, address, alarm type, action and
// time. It deletes itself on close; every opening makes a new one.
class qwAlarmEventManane : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwAlarmEventManane(QWidget *parent);

    void addAlarmRecord(const QString &ip, const QString &devname, int type, int action, const QString &file,
                        const QDateTime &time);
    QTableWidget *table() const { return m_table; }
    QPushButton *clearButton() const { return m_clear; }
    static QString typeName(int type);

signals:
    void sigClearAlarmHistory();

public slots:
    void OnNewAlarmTriggered(QString ipaddr, QString devname, int type, int action, QString file, QDateTime time);
    void onClear();

private:
    QTableWidget *m_table = nullptr;
    QPushButton *m_clear = nullptr;
};
