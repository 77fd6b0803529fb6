#pragma once

#include "app/widgets/basewindow.h"

class QLineEdit;
class QPushButton;

// Lock screen over the main window: window-modal, and it closes only once
// the logged-in user's own password was typed.
class qwUnlockClient : public BaseWindow
{
    Q_OBJECT
public:
    qwUnlockClient(QWidget *parent, const QString &userName);

    bool beforeClose() override;
    QLineEdit *passwordEdit() const { return m_password; }
    QPushButton *unlockButton() const { return m_unlock; }

signals:
    void sigUnlock();

public slots:
    void onConfirm();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QWidget *m_content = nullptr;
    bool m_unlocked = false;
    QString m_userName;
    QLineEdit *m_password = nullptr;
    QPushButton *m_unlock = nullptr;
};
