#include "devsettings/qwmodifiwificon.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"
#include "platform/widgets/qipaddressedit.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

constexpr int kModifyId = 94;
constexpr int kWaitMs = 5000;
const char *const kFieldStyle =
    "QWidget{background:#d3d3d3;border:1px solid gray;border-radius:2px;}QWidget QLabel{border:none;color:black;"
    "font-size:14px;background:transparent;}QWidget QLineEdit{border:none;background-color:transparent;"
    "font-size:10px;}";
const char *const kBody = "<request><network ver=\"2.0\"><mtu>1500</mtu><type>0</type><ipv4><mode>%1</mode>"
                          "<ip>%2</ip><mask>%3</mask><gateway>%4</gateway><dns>%5</dns><dns>%6</dns></ipv4>"
                          "</network></request>";

bool dottedQuad(const QString &text)
{
    static const QRegularExpression quad(QStringLiteral("(((25[0-5])|(2[0-4]\\d)|(1\\d\\d|[1-9]\\d)|(\\d))\\.){3}"
                                                        "(((25[0-5])|(2[0-4]\\d)|(1\\d\\d|[1-9]\\d)|(\\d)))"));
    return quad.match(text, 0, QRegularExpression::NormalMatch, QRegularExpression::AnchoredMatchOption).hasMatch();
}

bool leadingZero(const QString &text)
{
    static const QRegularExpression zero(QStringLiteral("^0[\\d\\.]+"));
    return zero.match(text).hasMatch();
}

bool toAddress(const QString &text, quint32 *value)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4 || text.isEmpty() || text == QLatin1String("0.0.0.0"))
        return false;
    quint32 v = 0;
    for (const QString &p : parts)
        v = v * 256 + p.toUInt();
    *value = v;
    return true;
}

} // namespace

qwModifiWifiCon::qwModifiWifiCon(QWidget *parent) : BaseWindow(parent, 0, 518, 350)
{
    setObjectName(QStringLiteral("qwModifiWifiCon"));
    QWidget *content = devset::prepareDialog(this, devset::text(devset::kRemotePage, DEVSET_WIFI + 1, "modifywifi"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(20, 26, 20, 8);
    auto *grid = new QGridLayout;
    column->addLayout(grid);
    m_dhcp = new QRadioButton(devset::text(devset::kRemotePage, 115, "dhcpmode"), content);
    m_dhcp->setObjectName(QStringLiteral("radioButton_Dhcp"));
    m_static = new QRadioButton(devset::text(devset::kRemotePage, 115, "staticmode"), content);
    m_static->setObjectName(QStringLiteral("radioButton_Static"));
    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, 115, "ipmode"), content), 0, 0);
    grid->addWidget(m_dhcp, 0, 1);
    grid->addWidget(m_static, 1, 1);
    static const char *const names[] = {"Address", "Mask", "Gateway", "Dns1", "Dns2"};
    static const char *const captions[] = {"netipaddr", "netsubmask", "netgateway", "netdns", nullptr};
    for (int i = 0; i < 5; ++i) {
        m_fields[i] = new QIPAddressEdit(content);
        m_fields[i]->setObjectName(QStringLiteral("ipEdit_") + QLatin1String(names[i]));
        m_fields[i]->setStyleSheet(QLatin1String(kFieldStyle));
        if (captions[i])
            grid->addWidget(new QLabel(devset::caption(devset::kCommonPage, devset::kAnySection, captions[i]), content),
                            i + 2, 0);
        grid->addWidget(m_fields[i], i + 2, 1);
        connect(m_fields[i], &QIPAddressEdit::IPValueChanged, this, &qwModifiWifiCon::OnIpeditEditChanged);
    }
    column->addStretch();
    m_save = devset::addButtonRow(column, content, {{"saveopt", "Save"}, {"cancelopt", "Cancel"}}).at(0);
    connect(m_save, &QPushButton::clicked, this, &qwModifiWifiCon::OnButtonSaveClick);
    connect(m_dhcp, &QRadioButton::clicked, this, &qwModifiWifiCon::onRadiobuttonDhcpChecked);
    connect(m_static, &QRadioButton::clicked, this, &qwModifiWifiCon::onRadiobuttonStaticChecked);
}

qwModifiWifiCon::~qwModifiWifiCon()
{
    devset::releaseRequest(modifyRequest, kWaitMs);
}

void qwModifiWifiCon::setNetworkInfo(int netMode, const QString &ip, const QString &netMask, const QString &gw,
                                     const QString &d1, const QString &d2, const QString &addr, int port,
                                     const QString &user, const QString &pwd)
{
    mode = netMode;
    ipaddr = ip;
    mask = netMask;
    gateway = gw;
    dns1 = d1;
    dns2 = d2;
    devip = addr;
    httpport = port;
    username = user;
    password = pwd;
    infoSet = true;
}

void qwModifiWifiCon::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (infoSet) {
        const QString given[] = {ipaddr, mask, gateway, dns1, dns2};
        for (int i = 0; i < 5; ++i)
            m_fields[i]->SetValue(given[i]);
        if (mode == 0) {
            m_static->setChecked(true);
        } else {
            m_dhcp->setChecked(true);
            enableFields(false);
        }
    }
    m_save->setEnabled(false);
}

void qwModifiWifiCon::enableFields(bool enabled)
{
    for (QIPAddressEdit *field : m_fields)
        field->setEnabled(enabled);
}

QStringList qwModifiWifiCon::values() const
{
    QStringList v;
    for (QIPAddressEdit *field : m_fields)
        v << field->GetValue();
    return v;
}

void qwModifiWifiCon::onRadiobuttonDhcpChecked()
{
    if (m_dhcp->isChecked()) {
        enableFields(false);
        m_save->setEnabled(true);
    }
    checkInputs();
}

void qwModifiWifiCon::onRadiobuttonStaticChecked()
{
    if (m_static->isChecked())
        enableFields(true);
    checkInputs();
}

void qwModifiWifiCon::OnIpeditEditChanged(QString)
{
    checkInputs();
}

bool qwModifiWifiCon::isChanged(int dhcp, const QStringList &v) const
{
    return dhcp != mode || v != QStringList{ipaddr, mask, gateway, dns1, dns2};
}

void qwModifiWifiCon::checkInputs()
{
    const int dhcp = m_dhcp->isChecked() ? 1 : 0;
    const QStringList v = values();
    const bool wellFormed = dottedQuad(v[0]) && dottedQuad(v[1]) && dottedQuad(v[2]) &&
                            (v[3].isEmpty() || dottedQuad(v[3])) && v[3] != QLatin1String("0.0.0.0") &&
                            v[4] != QLatin1String("0.0.0.0") && !leadingZero(v[3]) && !leadingZero(v[4]) &&
                            (v[4].isEmpty() || dottedQuad(v[4]));
    if ((!wellFormed && dhcp == 0) || !isChanged(dhcp, v)) {
        m_save->setEnabled(false);
        return;
    }
    // The static settings do not matter for DHCP, so an adapter whose address
    // is empty or broken can still be switched to it.
    m_save->setEnabled(dhcp == 1 || isSameSubnet(v[0], v[1], v[2]));
}

bool qwModifiWifiCon::isSameSubnet(const QString &ip, const QString &netMask, const QString &gw)
{
    quint32 a = 0;
    quint32 m = 0;
    quint32 g = 0;
    if (!toAddress(ip, &a) || !toAddress(netMask, &m) || !toAddress(gw, &g))
        return false;
    return (a & m) == (g & m);
}

void qwModifiWifiCon::OnButtonSaveClick()
{
    const int dhcp = m_dhcp->isChecked() ? 1 : 0;
    const QStringList v = values();
    sentMode = dhcp;
    m_sent = v;
    QStringList filled{QString::number(dhcp)};
    for (const QString &value : v)
        filled << xmlEscape(value);
    if (devset::startPost(
            modifyRequest, kWaitMs, kModifyId,
            devset::devsetUrl("http://%1:%2/action/set?subject=network&adapter=1", devip, QString::number(httpport)),
            username, password, devset::fillXml(QLatin1String(kBody), filled), 3, 10, this,
            &qwModifiWifiCon::OnCGIHeadCompleted))
        m_save->setEnabled(false);
}

void qwModifiWifiCon::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kModifyId || !modifyRequest || sender() != modifyRequest)
        return;
    m_save->setEnabled(true);
    if (code == CGIUtil::ResultOk) {
        emit sigModifyResult(sentMode, m_sent[0], m_sent[1], m_sent[2], m_sent[3], m_sent[4]);
        close();
        return;
    }
    devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
}

void qwModifiWifiCon::OnButtonCancelClick()
{
    close();
}
