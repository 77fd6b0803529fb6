#include "liveview/qwmodifydevice.h"

#include "liveview/livetext.h"
#include "liveview/qwdeviceform.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

using namespace livetext;

qwModifyDevice::qwModifyDevice(QWidget *parent, const QString &title) : BaseWindow(parent, 0, 460, 340)
{
    setObjectName(QStringLiteral("qwModifyDevice"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setTitleText(title, TitleLeft);
    auto *body = new QWidget(this);
    body->setGeometry(getClientRect());
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(16, 8, 16, 12);
    m_form = new qwDeviceForm(body);
    layout->addWidget(m_form);
    m_confirm = new QPushButton(QStringLiteral("OK"), body);
    m_confirm->setObjectName(QStringLiteral("pushButton_OK"));
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(m_confirm);
    layout->addLayout(row);
    connect(m_confirm, &QPushButton::clicked, this, &qwModifyDevice::onConfirm);
}

void qwModifyDevice::setSelectedDevice(const QString &devname, const QString &address, int connecttype,
                                       const QString &port, const QString &username, const QString &password,
                                       qint64 indexid)
{
    m_indexid = indexid;
    m_form->setValues(devname, address, connecttype, port, username, password);
    const qwDeviceForm &f = *m_form;
    m_shown = {f.deviceName(), f.address(), f.connectType(), f.port(), f.userName(), f.password()};
}

void qwModifyDevice::onConfirm()
{
    if (!m_form->validate(this))
        return;
    m_keepOpen = false;
    emit sigModifyResult(m_form->deviceName(), m_form->address(), m_form->connectType(), m_form->port(),
                         m_form->userName(), m_form->password(), m_indexid);
    if (!m_keepOpen)
        close();
}
