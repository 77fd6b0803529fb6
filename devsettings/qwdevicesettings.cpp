#include "devsettings/qwdevicesettings.h"

#include <QLabel>
#include <QVBoxLayout>

qwDeviceSettings::qwDeviceSettings(QWidget *parent) : BaseWindow(parent, 0, 560, 360)
{
    setObjectName(QStringLiteral("qwDeviceSettings"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *body = new QWidget(this);
    body->setGeometry(getClientRect());
    auto *layout = new QVBoxLayout(body);
    m_label = new QLabel(body);
    m_label->setObjectName(QStringLiteral("label_Device"));
    m_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_label);
}

void qwDeviceSettings::setDeviceInfo(const QString &ip, const QString &port, const QString &user,
                                     const QString &password)
{
    m_ip = ip;
    m_port = port;
    m_user = user;
    m_password = password;
    m_label->setText(QStringLiteral("%1:%2").arg(ip, port));
    setTitleText(m_label->text(), TitleLeft);
}

void qwDeviceSettings::OnBaseinfoChange(QString username, QString password)
{
    m_user = username;
    m_password = password;
    emit sigBaseInfoChange(m_ip, m_port, username, password);
}
