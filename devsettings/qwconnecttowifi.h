#pragma once

#include "app/widgets/basewindow.h"

class CGIUtil;
class QComboBox;
class QLineEdit;
class QPushButton;

// Makes the device join a wireless network, picked from the Wi-Fi page's
// list or typed by hand. It closes when the device accepted.
class qwConnectToWifi : public BaseWindow
{
    Q_OBJECT
public:
    explicit qwConnectToWifi(QWidget *parent);
    ~qwConnectToWifi() override;

    void setWifiInfo(const QString &essid, int auth, int alg, const QString &devip, int httpport,
                     const QString &username, const QString &password);

    // The choice of the seven whose codes are (auth, alg); 4 for any other pair.
    static int choiceOf(int auth, int alg);

public slots:
    void OnCGIHeadCompleted(int nID, int code);
    void OnSSIDChange(QString text);
    void OnAuthIndexChange(int index);
    void OnPasswordChange(QString text);
    void OnBtnConnectClick();
    void OnBtnCancelClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyConnectRule();

    bool fromScan = false;
    bool m_shown = false;
    QString essid;
    int auth = -1;
    int alg = -1;
    QString devip;
    int httpport = -1;
    QString username;
    QString password;
    CGIUtil *connectRequest = nullptr;
    QLineEdit *m_essid = nullptr;
    QComboBox *m_choice = nullptr;
    QLineEdit *m_password = nullptr;
    QPushButton *m_connect = nullptr;
};
