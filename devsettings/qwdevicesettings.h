#pragma once

#include "app/basewindow.h"

class QLabel;

// The remote settings window of one device. So far it shows which device it
// is for and passes on a changed login; the settings pages come later.
class qwDeviceSettings : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwDeviceSettings(QWidget *parent);

    void setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &password);
    QString address() const { return m_ip; }
    QString port() const { return m_port; }
    QString userName() const { return m_user; }
    QString password() const { return m_password; }
    QLabel *deviceLabel() const { return m_label; }

signals:
    void sigBaseInfoChange(QString devip, QString httpport, QString username, QString password);

public slots:
    // The device accepted a new login: address and port stay.
    void OnBaseinfoChange(QString username, QString password);

private:
    QString m_ip;
    QString m_port;
    QString m_user;
    QString m_password;
    QLabel *m_label = nullptr;
};
