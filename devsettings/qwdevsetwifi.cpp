#include "devsettings/qwdevsetwifi.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/widgets/qwcustomdelegate.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwconnecttowifi.h"
#include "devsettings/qwmodifiwificon.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int kAbilityId = 90;
constexpr int kNetworkId = 89;
constexpr int kNetstatId = 95;
constexpr int kScanId = 92;
constexpr int kWifiId = 91;
constexpr int kSection = DEVSET_WIFI + 1;
constexpr int kWaitMs = 5000;
constexpr int kShortWaitMs = 3000;
constexpr int kReadTimeoutSec = 10;
const char *const kSaveBody =
    "<request><network ver=\"2.0\"><active>%1</active><mtu>1500</mtu><proto>1</proto><ipv4><mode>%2</mode>"
    "<ip>%3</ip><mask>%4</mask><gateway>%5</gateway><dns>%6</dns><dns>%7</dns></ipv4><ipv6></ipv6></network>"
    "</request>";
const char *const kAuthNames[] = {"NONE", "WEP", "WPA", "WPA2"};
const char *const kAlgNames[] = {"OPEN", "SHARED", "TKIP", "AES"};

QString pageText(const char *key)
{
    return devset::text(devset::kRemotePage, kSection, key);
}

QString codeName(const char *const names[], int code)
{
    return code >= 0 && code <= 3 ? QLatin1String(names[code]) : QString();
}

QLabel *valueLabel(const QString &text, const QString &name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("QLabel{color:white;}"));
    return label;
}

} // namespace

qwDevsetWifi::qwDevsetWifi(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_WIFI"));
    m_readState = new DevsetReadState(this);
    setStyleSheet(styleSheet() + QStringLiteral("QLabel,QCheckBox,QRadioButton{color:#c2c2c2;}"));

    auto *top = new QHBoxLayout;
    m_enable = new QCheckBox(devset::text(devset::kCommonPage, devset::kAnySection, "enables"), this);
    m_enable->setObjectName(QStringLiteral("checkBox_Enable"));
    m_notSupported = new QLabel(pageText("notsupport"), this);
    m_notSupported->setObjectName(QStringLiteral("label_NotSupported"));
    m_notSupported->setStyleSheet(QStringLiteral("QLabel{color:red;}"));
    m_notSupported->hide();
    top->addWidget(m_enable);
    top->addWidget(m_notSupported);
    top->addStretch();
    column->addLayout(top);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tableView_Networks"));
    m_model = new QStandardItemModel(0, 5, m_table);
    m_model->setHorizontalHeaderLabels({devset::text(devset::kCommonPage, devset::kAnySection, "listindex"),
                                        pageText("wifissid"), pageText("authentication"), pageText("sencryption"),
                                        pageText("ssignal")});
    for (int c = 0; c < 5; ++c)
        m_model->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->setModel(m_model);
    m_table->setItemDelegateForColumn(qwCustomDelegate::kColumn, new qwCustomDelegate(m_table));
    m_table->verticalHeader()->hide();
    m_table->setAlternatingRowColors(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::NoContextMenu);
    const int widths[] = {120, 218, 224, 230, 260};
    for (int c = 0; c < 5; ++c)
        m_table->setColumnWidth(c, widths[c]);
    m_table->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(m_table);

    auto *status = new QWidget(this);
    status->setObjectName(QStringLiteral("widget_WifiStatus"));
    status->setAttribute(Qt::WA_StyledBackground);
    status->setStyleSheet(QStringLiteral("QWidget#widget_WifiStatus{background:#3d3d3d;}"));
    auto *grid = new QGridLayout(status);
    m_essid = valueLabel(QStringLiteral("WIFI_DEMO"), QStringLiteral("label_Essid"), status);
    m_ip = valueLabel(QStringLiteral("192.168.1.169"), QStringLiteral("label_Address"), status);
    m_mask = valueLabel(QStringLiteral("255.255.255.0"), QStringLiteral("label_Mask"), status);
    m_gateway = valueLabel(QStringLiteral("192.168.1.1"), QStringLiteral("label_Gateway"), status);
    m_link = new QLabel(status);
    m_link->setObjectName(QStringLiteral("label_Link"));
    m_modify = new QPushButton(devset::text(devset::kCommonPage, devset::kAnySection, "modifyopt"), status);
    m_modify->setObjectName(QStringLiteral("pushButton_Modify"));
    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, kSection, "currentssid"), status), 0, 0);
    grid->addWidget(m_essid, 0, 1);
    grid->addWidget(m_link, 0, 2);
    grid->addWidget(new QLabel(devset::caption(devset::kCommonPage, devset::kAnySection, "netipaddr"), status), 1, 0);
    grid->addWidget(m_ip, 1, 1);
    grid->addWidget(m_modify, 1, 2);
    grid->addWidget(new QLabel(devset::caption(devset::kCommonPage, devset::kAnySection, "netsubmask"), status), 2, 0);
    grid->addWidget(m_mask, 2, 1);
    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, kSection, "defaultgateway"), status), 3, 0);
    grid->addWidget(m_gateway, 3, 1);
    column->addWidget(status);
    setLinkStatus(false);
    m_modify->setEnabled(true);

    const QList<QPushButton *> buttons = devset::addButtonRow(
        column, this, {{"refreshpara", "Refresh"}, {"manualconnect", "ManualConnect"}, {"saveopt", "Save"}}, false);
    m_refresh = buttons.at(0);
    m_manual = buttons.at(1);
    m_manual->setText(pageText("manualconnect"));
    m_save = buttons.at(2);

    connect(m_enable, &QCheckBox::clicked, this, &qwDevsetWifi::OnCheckEenable);
    connect(m_refresh, &QPushButton::clicked, this, &qwDevsetWifi::OnBtnRefresh);
    connect(m_manual, &QPushButton::clicked, this, &qwDevsetWifi::OnBtnManualConnect);
    connect(m_save, &QPushButton::clicked, this, &qwDevsetWifi::OnBtnSave);
    connect(m_modify, &QPushButton::clicked, this, &qwDevsetWifi::OnBtnModify);
    // Both send the network settings that were read.
    m_readState->addControl(m_save);
    m_readState->addControl(m_modify);
    m_readState->addShown({m_enable, m_table, m_essid, m_ip, m_mask, m_gateway, m_link});
    m_readState->setReader([this] { load(); });
    connect(m_table, &QTableView::doubleClicked, this, &qwDevsetWifi::OnTableDoubleClick);
}

qwDevsetWifi::~qwDevsetWifi()
{
    for (CGIUtil **r : {&abilityRequest, &scanRequest, &wifiRequest, &networkRequest, &netstatRequest})
        devset::releaseRequest(*r, kWaitMs);
}

void qwDevsetWifi::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

int qwDevsetWifi::signalLevel(int signal)
{
    if (signal > -40)
        return 5;
    if (signal >= -49)
        return 4;
    if (signal >= -59)
        return 3;
    if (signal >= -79)
        return 2;
    if (signal >= -99)
        return 1;
    return 0;
}

void qwDevsetWifi::OnInitParameters(int pageid)
{
    if (pageid == DEVSET_WIFI)
        load();
}

void qwDevsetWifi::OnBtnRefresh()
{
    load();
}

void qwDevsetWifi::load()
{
    if (!wifiSupported)
        return;
    const auto read = &qwDevsetWifi::OnCGIDataCompleted;
    if (abilityPending) {
        m_readState->startRead(abilityRequest, kWaitMs, kAbilityId,
                               devset::devsetUrl("http://%1:%2/action/get?subject=devability", devip, httpport),
                               username, password, kReadTimeoutSec, this, read, "devability");
        return;
    }
    m_readState->startRead(networkRequest, kShortWaitMs, kNetworkId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=network&adapter=1", devip, httpport),
                           username, password, kReadTimeoutSec, this, read, "network");
    // The link status is shown with the settings: read and judged with them.
    m_readState->startRead(netstatRequest, kWaitMs, kNetstatId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=netstat&adapter=1", devip, httpport),
                           username, password, kReadTimeoutSec, this, read, nullptr);
}

void qwDevsetWifi::requestWifiScan()
{
    m_model->removeRows(0, m_model->rowCount());
    if (!wifiSupported)
        return;
    const auto read = &qwDevsetWifi::OnCGIDataCompleted;
    devset::startGet(scanRequest, kWaitMs, kScanId,
                     devset::devsetUrl("http://%1:%2/action/get?subject=wifiscan", devip, httpport), username, password,
                     kReadTimeoutSec, this, read);
    devset::startGet(wifiRequest, kShortWaitMs, kWifiId,
                     devset::devsetUrl("http://%1:%2/action/get?subject=wifi", devip, httpport), username, password,
                     kReadTimeoutSec, this, read);
}

void qwDevsetWifi::OnCGIDataCompleted(int nID)
{
    const QObject *from = sender();
    if (!from)
        return;
    if (nID == kAbilityId && from == abilityRequest) {
        abilityPending = false;
        int adapters = 0;
        abilityRequest->getXmlInt(QStringLiteral("adapter"), &adapters);
        if (adapters > 1) {
            wifiSupported = true;
            load();
            return;
        }
        wifiSupported = false;
        m_notSupported->show();
        m_enable->setEnabled(false);
        m_table->setEnabled(false);
        enableControls(false, true);
    } else if (nID == kNetworkId && from == networkRequest) {
        parseNetwork();
    } else if (nID == kNetstatId && from == netstatRequest) {
        int link = 0;
        if (netstatRequest->getXmlInt(QStringLiteral("link"), &link))
            setLinkStatus(link == 1);
    } else if (nID == kScanId && from == scanRequest) {
        parseWifiScan();
    } else if (nID == kWifiId && from == wifiRequest) {
        parseWifi();
    }
}

void qwDevsetWifi::enableControls(bool enabled, bool withSave)
{
    m_manual->setEnabled(enabled);
    m_readState->setControlEnabled(m_modify, enabled);
    m_refresh->setEnabled(enabled);
    if (withSave)
        m_readState->setControlEnabled(m_save, enabled);
}

void qwDevsetWifi::parseNetwork()
{
    CGIUtil *r = networkRequest;
    int active = 0;
    if (r->getXmlInt(QStringLiteral("active"), &active)) {
        if (active == 1) {
            m_enable->setChecked(true);
            requestWifiScan();
        } else {
            m_enable->setChecked(false);
            enableControls(false, true);
        }
    }
    if (!r->enterSection(QStringLiteral("ipv4"), true))
        return;
    QString text;
    if (r->getSectionString(QStringLiteral("ip"), &text, 0)) {
        netIp = text;
        m_ip->setText(text);
    }
    if (r->getSectionString(QStringLiteral("mask"), &text, 0)) {
        netMask = text;
        m_mask->setText(text);
    }
    if (r->getSectionString(QStringLiteral("gateway"), &text, 0)) {
        netGateway = text;
        m_gateway->setText(text);
    }
    int mode = 0;
    if (r->getSectionInt(QStringLiteral("mode"), &mode, 0))
        netMode = mode;
    // The second server only when ipv4 has servers of its own: the search
    // below would otherwise walk on into the elements after ipv4.
    if (!r->getSectionString(QStringLiteral("dns"), &text, 0))
        return;
    netDns1 = text;
    if (r->enterSection(QStringLiteral("dns"), false) && r->nextSection() && r->getSectionText(&text))
        netDns2 = text;
}

void qwDevsetWifi::parseWifi()
{
    QString essid;
    if (wifiRequest->getXmlString(QStringLiteral("essid"), &essid))
        m_essid->setText(essid);
}

void qwDevsetWifi::parseWifiScan()
{
    m_model->removeRows(0, m_model->rowCount());
    clearScanList();
    CGIUtil *r = scanRequest;
    if (!r->enterSection(QStringLiteral("wifiap"), true))
        return;
    do {
        WifiScanEntry entry;
        int signal = 0;
        r->getSectionString(QStringLiteral("essid"), &entry.essid, 0);
        r->getSectionInt(QStringLiteral("auth"), &entry.auth, 0);
        r->getSectionInt(QStringLiteral("alg"), &entry.alg, 0);
        if (!r->getSectionInt(QStringLiteral("signal"), &signal, 0))
            continue;
        addScanResult(entry.essid, entry.auth, entry.alg, signal);
        scanList << entry;
    } while (r->nextSection());
}

void qwDevsetWifi::addScanResult(const QString &essid, int auth, int alg, int signal)
{
    const int row = m_model->rowCount();
    auto *level = new QStandardItem;
    level->setData(signalLevel(signal), Qt::UserRole);
    m_model->appendRow({new QStandardItem(QString::number(row + 1)), new QStandardItem(essid),
                        new QStandardItem(codeName(kAuthNames, auth)), new QStandardItem(codeName(kAlgNames, alg)),
                        level});
}

void qwDevsetWifi::clearScanList()
{
    scanList.clear();
}

void qwDevsetWifi::setLinkStatus(bool linked)
{
    m_link->setText(pageText(linked ? "connected" : "disconnected"));
    // Light shades: plain green and red hardly stand out from the status
    // panel's dark grey.
    m_link->setStyleSheet(linked ? QStringLiteral("QLabel{color:#00c500;}") : QStringLiteral("QLabel{color:#ff9898;}"));
    m_readState->setControlEnabled(m_modify, linked);
}

void qwDevsetWifi::openJoin(const QString &essid, int auth, int alg)
{
    auto *dialog = new qwConnectToWifi(this);
    dialog->setWifiInfo(essid, auth, alg, devip, httpport.toInt(), username, password);
    dialog->show();
}

void qwDevsetWifi::OnTableDoubleClick(QModelIndex index)
{
    const int row = index.row();
    if (row < 0 || row >= scanList.size())
        return;
    const WifiScanEntry &entry = scanList.at(row);
    openJoin(entry.essid, entry.auth, entry.alg);
}

void qwDevsetWifi::OnBtnManualConnect()
{
    openJoin(QString(), -1, -1);
}

void qwDevsetWifi::OnBtnModify()
{
    if (!m_readState->isRead())
        return;
    auto *dialog = new qwModifiWifiCon(this);
    dialog->setNetworkInfo(netMode, netIp, netMask, netGateway, netDns1, netDns2, devip, httpport.toInt(), username,
                           password);
    connect(dialog, &qwModifiWifiCon::sigModifyResult, this, &qwDevsetWifi::OnModifyResult);
    dialog->show();
}

void qwDevsetWifi::OnModifyResult(int mode, QString ipaddr, QString submask, QString gateway, QString dns1,
                                  QString dns2)
{
    netMode = mode;
    netIp = ipaddr;
    netMask = submask;
    netGateway = gateway;
    netDns1 = dns1;
    netDns2 = dns2;
}

void qwDevsetWifi::OnCheckEenable()
{
    const bool on = m_enable->isChecked();
    enableControls(on, on);
    m_table->setEnabled(on);
}

void qwDevsetWifi::OnBtnSave()
{
    if (!m_readState->isRead())
        return;
    const int active = m_enable->isChecked() ? 1 : 0;
    const int mode = netIp.isEmpty() || netMask.isEmpty() || netGateway.isEmpty() ? 1 : netMode;
    const QString body = devset::fillXml(
        QLatin1String(kSaveBody), {QString::number(active), QString::number(mode), xmlEscape(netIp), xmlEscape(netMask),
                                   xmlEscape(netGateway), xmlEscape(netDns1), xmlEscape(netDns2)});
    devset::startPost(networkRequest, kShortWaitMs, kNetworkId,
                      devset::devsetUrl("http://%1:%2/action/set?subject=network&adapter=1", devip, httpport), username,
                      password, body, 3, 10, this, &qwDevsetWifi::OnCGIHeadCompleted);
}

void qwDevsetWifi::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kNetworkId || !networkRequest || sender() != networkRequest)
        return;
    devset::showTip(this, code == CGIUtil::ResultOk ? qwTipsdlgEx::Success : qwTipsdlgEx::Failure,
                    code == CGIUtil::ResultOk ? QStringLiteral("setsuccess") : QStringLiteral("setfailed"));
}
