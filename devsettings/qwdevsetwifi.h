#pragma once

#include <QModelIndex>
#include <QWidget>

class CGIUtil;
class DevsetReadState;
class QCheckBox;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;

// One network of the device's list, as the join dialog is preset with it.
struct WifiScanEntry
{
    QString essid;
    int auth = -1;
    int alg = -1;
};

// The device's wireless adapter: on or off, the networks it sees, the one
// it is joined to and its IPv4 settings. A device with one adapter or none
// has no Wi-Fi, and the page then stays disabled.
class qwDevsetWifi : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetWifi(QWidget *parent);
    ~qwDevsetWifi() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    // The signal level 0..5 of a dBm value.
    static int signalLevel(int signal);

public slots:
    void OnModifyResult(int mode, QString ipaddr, QString submask, QString gateway, QString dns1, QString dns2);
    void OnInitParameters(int pageid);
    void OnTableDoubleClick(QModelIndex index);
    void OnCGIDataCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnBtnModify();
    void OnBtnRefresh();
    void OnBtnManualConnect();
    void OnBtnSave();
    void OnCheckEenable();

private:
    void load();
    void requestWifiScan();
    void parseNetwork();
    void parseWifi();
    void parseWifiScan();
    void addScanResult(const QString &essid, int auth, int alg, int signal);
    void clearScanList();
    void setLinkStatus(bool linked);
    void enableControls(bool enabled, bool withSave);
    void openJoin(const QString &essid, int auth, int alg);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    bool wifiSupported = true;
    bool abilityPending = true;
    CGIUtil *abilityRequest = nullptr;
    CGIUtil *networkRequest = nullptr;
    CGIUtil *netstatRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    CGIUtil *scanRequest = nullptr;
    CGIUtil *wifiRequest = nullptr;
    // DHCP until the device says otherwise.
    int netMode = 1;
    QString netIp;
    QString netMask;
    QString netGateway;
    QString netDns1;
    QString netDns2;
    QList<WifiScanEntry> scanList;

    QCheckBox *m_enable = nullptr;
    QLabel *m_notSupported = nullptr;
    QTableView *m_table = nullptr;
    QStandardItemModel *m_model = nullptr;
    QLabel *m_essid = nullptr;
    QLabel *m_ip = nullptr;
    QLabel *m_mask = nullptr;
    QLabel *m_gateway = nullptr;
    QLabel *m_link = nullptr;
    QPushButton *m_modify = nullptr;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_manual = nullptr;
    QPushButton *m_save = nullptr;
};
