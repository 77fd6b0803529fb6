#pragma once

#include "liveview/deviceentry.h"

#include <QWidget>

class QButtonGroup;
class QIPAddressEdit;
class QLineEdit;
class QRadioButton;

// The connection form shared by the add and the modify dialogs: name, how the
// device is reached (address or P2P identifier), HTTP port and login. It
// checks its values and names the tip that fits a bad one.
class qwDeviceForm : public QWidget
{
    Q_OBJECT
public:
    enum Connect { ByAddress = deviceentry::ByAddress, ByIdentifier = deviceentry::ByIdentifier };

    explicit qwDeviceForm(QWidget *parent);

    QString deviceName() const;
    // The address text or the identifier, by the chosen connection.
    QString address() const;
    QString port() const;
    QString userName() const;
    QString password() const;
    int connectType() const;
    // "VARAR" for an address, the P2P protocol name for an identifier.
    QString deviceType() const;

    void setValues(const QString &name, const QString &address, int connectType, const QString &port,
                   const QString &user, const QString &password);

    // The key of the tip for the first bad value (page 38), empty when all are good.
    QString checkInput() const;
    // Shows that tip in red; false when there was a bad value.
    bool validate(QWidget *tipParent) const;

    QLineEdit *nameEdit() const { return m_name; }
    QIPAddressEdit *addressEdit() const { return m_address; }
    QLineEdit *identifierEdit() const { return m_identifier; }
    QLineEdit *portEdit() const { return m_port; }
    QLineEdit *userEdit() const { return m_user; }
    QLineEdit *passwordEdit() const { return m_password; }
    QRadioButton *byAddressButton() const { return m_byAddress; }
    QRadioButton *byIdentifierButton() const { return m_byIdentifier; }

    static bool isIpv4(const QString &text);
    static bool isIdentifier(const QString &text);

private:
    void onConnectChanged();

    QLineEdit *m_name = nullptr;
    QRadioButton *m_byAddress = nullptr;
    QRadioButton *m_byIdentifier = nullptr;
    QIPAddressEdit *m_address = nullptr;
    QLineEdit *m_identifier = nullptr;
    QLineEdit *m_port = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
};
