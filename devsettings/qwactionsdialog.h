#pragma once

#include "app/widgets/basewindow.h"

// The motion alarm's actions. So far it only names them; it keeps the login
// for the editor that will change them.
class qwActionsDialog : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwActionsDialog(QWidget *parent);

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);
    QStringList login() const { return {m_devip, m_httpport, m_username, m_password}; }

private:
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
};
