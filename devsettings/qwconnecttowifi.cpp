#include "devsettings/qwconnecttowifi.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kConnectId = 93;
constexpr int kWaitMs = 5000;
constexpr int kSection = DEVSET_WIFI + 1;

struct Choice
{
    const char *text;
    int auth;
    int alg;
};
const Choice kChoices[] = {{"OPEN/NONE", 0, 0},   {"WPAPSK/AES", 2, 3}, {"WPAPSK/TKIP", 2, 2}, {"WPA2PSK/TKIP", 3, 2},
                           {"WPA2PSK/AES", 3, 3}, {"SHARED/WEP", 1, 1}, {"OPEN/WEP", 1, 0}};
constexpr int kDefaultChoice = 4;

} // namespace

qwConnectToWifi::qwConnectToWifi(QWidget *parent) : BaseWindow(parent, 0, 470, 250)
{
    setObjectName(QStringLiteral("qwConnectToWifi"));
    QWidget *content = devset::prepareDialog(this, devset::text(devset::kRemotePage, kSection, "connecttonet"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(20, 26, 20, 8);
    auto *grid = new QGridLayout;
    column->addLayout(grid);
    m_essid = new QLineEdit(content);
    m_essid->setObjectName(QStringLiteral("lineEdit_Essid"));
    m_choice = new QComboBox(content);
    m_choice->setObjectName(QStringLiteral("comboBox_Auth"));
    for (const Choice &c : kChoices)
        m_choice->addItem(QLatin1String(c.text));
    m_password = new QLineEdit(content);
    m_password->setObjectName(QStringLiteral("lineEdit_Password"));
    m_password->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, kSection, "wifissid"), content), 0, 0);
    grid->addWidget(m_essid, 0, 1);
    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, kSection, "authencrypt"), content), 1, 0);
    grid->addWidget(m_choice, 1, 1);
    grid->addWidget(new QLabel(devset::caption(devset::kCommonPage, devset::kAnySection, "password"), content), 2, 0);
    grid->addWidget(m_password, 2, 1);
    column->addStretch();
    m_connect = devset::addButtonRow(column, content, {{"contowifi", "Connect"}, {"cancelopt", "Cancel"}}).at(0);
    m_connect->setText(devset::text(devset::kRemotePage, kSection, "contowifi"));
    m_connect->setEnabled(false);
    connect(m_connect, &QPushButton::clicked, this, &qwConnectToWifi::OnBtnConnectClick);
    connect(m_essid, &QLineEdit::textChanged, this, &qwConnectToWifi::OnSSIDChange);
    connect(m_password, &QLineEdit::textChanged, this, &qwConnectToWifi::OnPasswordChange);
    connect(m_choice, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &qwConnectToWifi::OnAuthIndexChange);
}

qwConnectToWifi::~qwConnectToWifi()
{
    devset::releaseRequest(connectRequest, kWaitMs);
}

void qwConnectToWifi::setWifiInfo(const QString &ssid, int authCode, int algCode, const QString &ip, int port,
                                  const QString &user, const QString &pwd)
{
    essid = ssid;
    auth = authCode;
    alg = algCode;
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
    fromScan = !ssid.isEmpty();
}

int qwConnectToWifi::choiceOf(int authCode, int algCode)
{
    for (int i = 0; i < int(std::size(kChoices)); ++i) {
        if (kChoices[i].auth == authCode && kChoices[i].alg == algCode)
            return i;
    }
    return kDefaultChoice;
}

void qwConnectToWifi::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (fromScan) {
        m_essid->setText(essid);
        m_choice->setCurrentIndex(choiceOf(auth, alg));
        m_essid->setEnabled(false);
        m_choice->setEnabled(false);
        applyConnectRule();
    } else {
        m_connect->setEnabled(false);
        m_password->setEnabled(false);
    }
}

void qwConnectToWifi::applyConnectRule()
{
    m_connect->setEnabled(!m_essid->text().isEmpty() &&
                          (!m_password->text().isEmpty() || m_choice->currentIndex() == 0));
}

void qwConnectToWifi::OnSSIDChange(QString)
{
    applyConnectRule();
}

void qwConnectToWifi::OnPasswordChange(QString)
{
    applyConnectRule();
}

void qwConnectToWifi::OnAuthIndexChange(int index)
{
    applyConnectRule();
    m_password->setEnabled(index != 0);
}

void qwConnectToWifi::OnBtnConnectClick()
{
    const QString ssid = m_essid->text();
    const QString pwd = m_password->text();
    const int choice = m_choice->currentIndex();
    if (ssid.isEmpty() || (pwd.isEmpty() && choice != 0) || choice < 0)
        return;
    const QString body = devset::fillXml(
        QStringLiteral("<request><wifi><essid>%1</essid><auth>%2</auth><alg>%3</alg><password>%4</password></wifi>"
                       "</request>"),
        {xmlEscape(ssid), QString::number(kChoices[choice].auth), QString::number(kChoices[choice].alg),
         xmlEscape(pwd)});
    if (devset::startPost(connectRequest, kWaitMs, kConnectId,
                          devset::devsetUrl("http://%1:%2/action/set?subject=wifi", devip, QString::number(httpport)),
                          username, password, body, 3, 10, this, &qwConnectToWifi::OnCGIHeadCompleted))
        m_connect->setEnabled(false);
}

void qwConnectToWifi::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kConnectId || !connectRequest || sender() != connectRequest)
        return;
    if (code == CGIUtil::ResultOk) {
        close();
        return;
    }
    devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("connectfailed"));
    m_connect->setEnabled(true);
}

void qwConnectToWifi::OnBtnCancelClick()
{
    close();
}
