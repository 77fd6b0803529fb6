#include "liveview/qwdeviceform.h"

#include "device/cameradevice.h"
#include "device/deviceaddress.h"
#include "liveview/deviceentry.h"
#include "liveview/livetext.h"
#include "platform/widgets/qipaddressedit.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>

using namespace livetext;

qwDeviceForm::qwDeviceForm(QWidget *parent) : QWidget(parent)
{
    auto *form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("lineEdit_Name"));
    form->addRow(liveText(kPreviewPage, kDeviceAdd, "devicename"), m_name);

    auto *choice = new QWidget(this);
    auto *choiceLayout = new QHBoxLayout(choice);
    choiceLayout->setContentsMargins(0, 0, 0, 0);
    m_byAddress = new QRadioButton(liveText(kPreviewPage, kDeviceAdd, "devfromip"), choice);
    m_byIdentifier = new QRadioButton(liveText(kPreviewPage, kDeviceAdd, "devfromp2p"), choice);
    m_byAddress->setChecked(true);
    choiceLayout->addWidget(m_byAddress);
    choiceLayout->addWidget(m_byIdentifier);
    choiceLayout->addStretch();
    form->addRow(liveText(kPreviewPage, kDeviceAdd, "addtype"), choice);

    auto *where = new QWidget(this);
    auto *whereLayout = new QHBoxLayout(where);
    whereLayout->setContentsMargins(0, 0, 0, 0);
    m_address = new QIPAddressEdit(where);
    m_identifier = new QLineEdit(where);
    m_identifier->setObjectName(QStringLiteral("lineEdit_Identifier"));
    m_identifier->hide();
    whereLayout->addWidget(m_address);
    whereLayout->addWidget(m_identifier);
    form->addRow(liveText(kPreviewPage, kDeviceAdd, "iporid"), where);

    m_port = new QLineEdit(QStringLiteral("80"), this);
    m_port->setObjectName(QStringLiteral("lineEdit_Port"));
    form->addRow(liveText(kPreviewPage, kDeviceAdd, "httpport"), m_port);
    m_user = new QLineEdit(this);
    m_user->setObjectName(QStringLiteral("lineEdit_User"));
    form->addRow(liveText(kCommonPage, kNoSection, "username"), m_user);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("lineEdit_Password"));
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(liveText(kCommonPage, kNoSection, "password"), m_password);

    connect(m_byAddress, &QRadioButton::toggled, this, [this] { onConnectChanged(); });
    onConnectChanged();
}

void qwDeviceForm::onConnectChanged()
{
    const bool byAddress = m_byAddress->isChecked();
    m_address->setVisible(byAddress);
    m_identifier->setVisible(!byAddress);
}

QString qwDeviceForm::deviceName() const
{
    return m_name->text().trimmed();
}
QString qwDeviceForm::address() const
{
    return connectType() == ByAddress ? m_address->text() : m_identifier->text().trimmed();
}
QString qwDeviceForm::port() const
{
    return m_port->text().trimmed();
}
QString qwDeviceForm::userName() const
{
    return m_user->text();
}
QString qwDeviceForm::password() const
{
    return m_password->text();
}
int qwDeviceForm::connectType() const
{
    return m_byAddress->isChecked() ? ByAddress : ByIdentifier;
}
QString qwDeviceForm::deviceType() const
{
    return connectType() == ByAddress ? QStringLiteral("VARAR") : QString::fromLatin1(kP2pProtocolName);
}

void qwDeviceForm::setValues(const QString &name, const QString &address, int connectType, const QString &port,
                             const QString &user, const QString &password)
{
    m_name->setText(name);
    // The stored connection type is kept, but the form follows what the
    // address is: a dotted address goes to the address editor.
    const bool byAddress = isIpv4(address) || (connectType == ByAddress && !isIdentifier(address));
    if (!byAddress) {
        m_byIdentifier->setChecked(true);
        m_identifier->setText(address);
    } else {
        m_byAddress->setChecked(true);
        m_address->setText(address);
    }
    m_port->setText(port);
    m_user->setText(user);
    m_password->setText(password);
}

bool qwDeviceForm::isIpv4(const QString &text)
{
    return deviceaddress::isIpv4(text);
}

bool qwDeviceForm::isIdentifier(const QString &text)
{
    return deviceaddress::isIdentifier(text);
}

QString qwDeviceForm::checkInput() const
{
    return deviceentry::check(connectType(), address(), port());
}

bool qwDeviceForm::validate(QWidget *tipParent) const
{
    const QString key = checkInput();
    if (key.isEmpty())
        return true;
    showFailureTip(tipParent, key.toLatin1().constData());
    return false;
}
