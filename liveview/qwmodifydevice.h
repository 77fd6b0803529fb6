#pragma once

#include "app/widgets/basewindow.h"
#include "liveview/devicechange.h"

class QPushButton;
class qwDeviceForm;

// Dialog that changes a listed device's name and connection data. The
// device's database key travels through unchanged.
class qwModifyDevice : public BaseWindow
{
    Q_OBJECT
public:
    qwModifyDevice(QWidget *parent, const QString &title);

    void setSelectedDevice(const QString &devname, const QString &address, int connecttype, const QString &port,
                           const QString &username, const QString &password, qint64 indexid);
    qwDeviceForm *form() const { return m_form; }
    QPushButton *confirmButton() const { return m_confirm; }
    qint64 indexId() const { return m_indexid; }
    // What the form showed of the device when it was filled: a field still
    // showing it at OK was not changed here.
    const devicechange::Fields &shown() const { return m_shown; }
    // Called by the receiver of sigModifyResult when the change could not be
    // stored: the dialog then stays open with what was typed.
    void keepOpen() { m_keepOpen = true; }

signals:
    void sigModifyResult(QString devname, QString devip, int addtype, QString port, QString username, QString password,
                         qlonglong indexnum);

public slots:
    void onConfirm();

private:
    qwDeviceForm *m_form = nullptr;
    QPushButton *m_confirm = nullptr;
    qint64 m_indexid = 0;
    devicechange::Fields m_shown;
    bool m_keepOpen = false;
};
