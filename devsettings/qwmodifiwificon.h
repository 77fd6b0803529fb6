#pragma once

#include "app/widgets/basewindow.h"

class CGIUtil;
class QIPAddressEdit;
class QPushButton;
class QRadioButton;

// Edits the wireless adapter's IPv4 settings and reports what the device
// accepted. Save is enabled only for input that differs from the opened
// values and, in static mode, is well formed with address and gateway in
// one subnet.
class qwModifiWifiCon : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwModifiWifiCon(QWidget *parent);
    ~qwModifiWifiCon() override;

    void setNetworkInfo(int mode, const QString &ipaddr, const QString &mask, const QString &gateway,
                        const QString &dns1, const QString &dns2, const QString &devip, int httpport,
                        const QString &username, const QString &password);

    static bool isSameSubnet(const QString &ipaddr, const QString &mask, const QString &gateway);

signals:
    void sigModifyResult(int mode, QString ipaddr, QString mask, QString gateway, QString dns1, QString dns2);

public slots:
    void onRadiobuttonDhcpChecked();
    void onRadiobuttonStaticChecked();
    void OnButtonCancelClick();
    void OnButtonSaveClick();
    void OnIpeditEditChanged(QString iptext);
    void OnCGIHeadCompleted(int nID, int code);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void checkInputs();
    bool isChanged(int dhcp, const QStringList &values) const;
    QStringList values() const;
    void enableFields(bool enabled);

    int mode = -1;
    QString ipaddr;
    QString mask;
    QString gateway;
    QString dns1;
    QString dns2;
    QString devip;
    int httpport = -1;
    QString username;
    QString password;
    bool infoSet = false;
    bool m_shown = false;
    CGIUtil *modifyRequest = nullptr;
    int sentMode = 0;
    QStringList m_sent;
    QRadioButton *m_dhcp = nullptr;
    QRadioButton *m_static = nullptr;
    QIPAddressEdit *m_fields[5] = {};
    QPushButton *m_save = nullptr;
};
