#pragma once

#include "localsettings/localusers.h"

#include <QPointer>
#include <QWidget>

class QPushButton;
class QTableWidget;
class qwAddUser;
class qwUsermgrDelegate;

// The users and rights sub-page: the local users with a modify and a delete
// button in each row, and an add button. Every change needs the local
// configuration right and goes through LocalUserRules; each outcome is
// told by a tip.
class qwLocalUsers : public QWidget
{
    Q_OBJECT
public:
    static const int kColumnCount = 6;

    explicit qwLocalUsers(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();

    QTableWidget *userList() const { return m_users; }
    QPushButton *addButton() const { return m_add; }
    // The add or modify dialog while it is open.
    qwAddUser *userDialog() const;

public slots:
    void onAddUser();
    void onRowButton(int row, int btnid);

private:
    void openDialog(const _st_user_item *existing);
    void onDialogConfirmed();
    void askDelete(const QString &name);
    void showOutcome(LocalUserRules::Outcome outcome);
    // The outcome of `decl` ("add user", ...) of the user `name`; a refusal
    // of the database is told over the dialog that asked and logged.
    void showOutcome(const LocalUserRules &rules, LocalUserRules::Outcome outcome, const char *decl,
                     const QString &name);
    LocalUserRules rules() const;

    QTableWidget *m_users = nullptr;
    QPushButton *m_add = nullptr;
    qwUsermgrDelegate *m_delegate = nullptr;
    QPointer<qwAddUser> m_dialog;
};
