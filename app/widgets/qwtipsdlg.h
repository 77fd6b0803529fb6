#pragma once

#include "app/widgets/basewindow.h"

class QLabel;
class QPushButton;

// Window-modal message dialog with a warning icon and either a Close button
// (mode 1) or OK and Cancel, reporting the choice by sigTipsresult.
class qwTipsDlg : public BaseWindow
{
    Q_OBJECT
public:
    qwTipsDlg(QWidget *parent, const QString &title, int mode);

    void setTipText(const QString &text);

    // The window a message asked for over `requested` belongs to: the
    // innermost modal dialog open over requested's window (directly or over
    // another dialog of it), or the dialog of requested's window that has the
    // focus, so that the message comes up over the dialog it answers instead
    // of behind it, blocking it; otherwise `requested` itself. A dialog of
    // another window is never taken, however late the message comes; a
    // window of its own made under requested's page (the device settings)
    // is another window, and so are the dialogs open over it.
    static QWidget *ownerFor(QWidget *requested);
    // The same without the dialog that merely has the focus: the innermost
    // modal dialog open over requested's window, otherwise `requested`.
    static QWidget *modalOwnerFor(QWidget *requested);

signals:
    void sigTipsresult(int retcode);

private slots:
    void on_pushButton_OK_clicked();
    void on_pushButton_Cancel_clicked();
    void on_pushButton_Close_clicked();

private:
    QLabel *m_icon = nullptr;
    QLabel *m_text = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_close = nullptr;
};
