#pragma once

#include "app/core/readstatus.h"
#include "app/widgets/basewindow.h"

#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class cmsclient;

// The first window: logs a local user in by name and password, or the
// stored user by itself when automatic login is on, then opens the main
// window.
class qwLogin : public BaseWindow
{
    Q_OBJECT
public:
    static const int kMessageMs = 5000;
    static const int kAutoLoginMs = 100;

    explicit qwLogin(QWidget *parent = nullptr);
    ~qwLogin() override;

    // The main window this dialog opened, if any; start-up deletes it at the end.
    cmsclient *mainWindow() const { return m_mainWindow; }

    QLineEdit *userEdit() const { return m_user; }
    QLineEdit *passwordEdit() const { return m_password; }
    QCheckBox *autoLoginBox() const { return m_autoLogin; }
    QLabel *messageLabel() const { return m_message; }
    QPushButton *loginButton() const { return m_btnLogin; }
    QPushButton *cancelButton() const { return m_btnCancel; }

public slots:
    void OnBtnLoginClicked();
    void OnBtnCancelClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void buildForm(QWidget *content);
    void showMessage(const char *key);
    // Whether a read for a login worked; when not, says that the database is
    // busy (or failed) and logs it under `user`.
    bool readable(ReadStatus status, const QString &user);
    void log(const QString &user, const char *text, const QString &note = QString());
    void openMainWindow();

    QPushButton *m_btnLogin = nullptr;
    QPushButton *m_btnCancel = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QCheckBox *m_autoLogin = nullptr;
    QLabel *m_message = nullptr;
    int m_messageTimer = -1;
    int m_autoLoginTimer = -1;
    QString m_userName;
    QPointer<cmsclient> m_mainWindow;
};
