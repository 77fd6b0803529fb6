#pragma once

#include "app/widgets/basewindow.h"

class CGIUtil;
class QComboBox;
class QLineEdit;
class QPushButton;

// Adds one device account, or changes the password and group of one, with a
// request of its own. It closes itself when the device accepted and only
// then reports; a refusal is shown here and the dialog stays open.
class qwUserInformations : public BaseWindow
{
    Q_OBJECT
public:
    qwUserInformations(QWidget *parent, QString title);
    ~qwUserInformations() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);
    // Modify mode for that account; the masks go back to the device unchanged.
    void setUser(const QString &name, int group, int config, int operation);
    bool isModify() const { return m_modify; }

signals:
    void sigOperationResult(bool bret, QString username, QString pwd);

private slots:
    void onSave();
    void onResult(int id, int code);

private:
    bool m_modify = false;
    int m_config = 0;
    int m_operation = 0;
    QString m_account;
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
    QString m_sentName;
    QString m_sentPassword;
    CGIUtil *m_request = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_pwd = nullptr;
    QLineEdit *m_confirm = nullptr;
    QComboBox *m_group = nullptr;
    QPushButton *m_save = nullptr;
};
