#include "localsettings/qwlocalusers.h"

#include "app/core/database.h"
#include "app/widgets/plaintext.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/qwusermgrdelegate.h"
#include "app/widgets/refusal.h"
#include "app/widgets/userrights.h"
#include "localsettings/localpagelook.h"
#include "localsettings/qwadduser.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using localpage::text;

qwLocalUsers::qwLocalUsers(QWidget *parent) : QWidget(parent)
{
    localpage::applyDarkLook(this, QStringLiteral("widget_LocalUsers"));
    m_users = new QTableWidget(0, kColumnCount, this);
    m_users->setObjectName(QStringLiteral("tableWidget_Users"));
    localpage::applyDarkTable(m_users);
    m_users->setHorizontalHeaderLabels({text("username", localpage::CommonTexts), text("usergroup"), text("userdesc"),
                                        text("authlist"), text("modifytitle"), text("userdel")});
    m_users->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_users->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_users->setSelectionMode(QAbstractItemView::SingleSelection);
    m_users->setMouseTracking(true);
    m_users->verticalHeader()->hide();
    m_users->verticalHeader()->setDefaultSectionSize(40);
    m_users->setColumnWidth(0, 160);
    m_users->setColumnWidth(1, 130);
    m_users->setColumnWidth(2, 180);
    m_users->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    for (int column : {qwUsermgrDelegate::kModifyColumn, qwUsermgrDelegate::kDeleteColumn}) {
        m_users->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Fixed);
        m_users->setColumnWidth(column, 90);
    }
    m_delegate = new qwUsermgrDelegate(m_users);
    m_users->setItemDelegate(m_delegate);
    connect(m_delegate, &qwUsermgrDelegate::sigToolbuttonClicked, this, &qwLocalUsers::onRowButton);

    m_add = new QPushButton(text("adduser"), this);
    m_add->setObjectName(QStringLiteral("pushButton_AddUser"));
    m_add->setMinimumWidth(120);
    connect(m_add, &QPushButton::clicked, this, &qwLocalUsers::onAddUser);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(buttons);
    layout->addWidget(m_users);
}

void qwLocalUsers::reload()
{
    m_users->setRowCount(0);
    QList<_st_user_item> users;
    // An account list that could not be read is no empty one.
    if (!localpage::showRead(this, rules().read(users), {m_users, m_add}))
        return;
    for (const _st_user_item &user : qAsConst(users)) {
        const int row = m_users->rowCount();
        m_users->insertRow(row);
        const QString texts[] = {user.username, user.usergroup, user.userdecl,
                                 LocalUserRules::rightsSummary(user.usertype)};
        for (int column = 0; column < 4; ++column) {
            auto *item = new QTableWidgetItem(texts[column]);
            item->setToolTip(plaintext::toolTip(texts[column]));
            m_users->setItem(row, column, item);
        }
        // The button cells hold no text; they only take the delegate's clicks.
        for (int column : {qwUsermgrDelegate::kModifyColumn, qwUsermgrDelegate::kDeleteColumn}) {
            auto *item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            m_users->setItem(row, column, item);
        }
    }
}

LocalUserRules qwLocalUsers::rules() const
{
    // The store of the moment: the page may outlive one in tests.
    return LocalUserRules(g_database);
}

qwAddUser *qwLocalUsers::userDialog() const
{
    return m_dialog;
}

void qwLocalUsers::onAddUser()
{
    if (!userrights::check(this, userrights::LocalConfiguration))
        return;
    openDialog(nullptr);
}

void qwLocalUsers::onRowButton(int row, int btnid)
{
    const QTableWidgetItem *nameItem = m_users->item(row, 0);
    if (!nameItem || !userrights::check(this, userrights::LocalConfiguration))
        return;
    const QString name = nameItem->text();
    if (btnid == 1) {
        askDelete(name);
        return;
    }
    _st_user_item user;
    if (!rules().find(name, &user)) {
        showOutcome(LocalUserRules::NoSuchUser);
        reload();
        return;
    }
    openDialog(&user);
}

void qwLocalUsers::openDialog(const _st_user_item *existing)
{
    if (m_dialog)
        m_dialog->close();
    m_dialog = new qwAddUser(this, existing);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_dialog, &qwAddUser::sigConfirmed, this, &qwLocalUsers::onDialogConfirmed);
    m_dialog->show();
}

void qwLocalUsers::onDialogConfirmed()
{
    if (!m_dialog || !userrights::check(this, userrights::LocalConfiguration))
        return;
    const _st_user_item user = m_dialog->user();
    const bool modifying = m_dialog->isModifying();
    LocalUserRules rules = this->rules();
    const LocalUserRules::Outcome outcome =
        modifying ? rules.modify(user, m_dialog->confirmPassword()) : rules.add(user, m_dialog->confirmPassword());
    showOutcome(rules, outcome, modifying ? "modify user" : "add user", user.username);
    // A refused input stays in the dialog to be corrected.
    if (!LocalUserRules::succeeded(outcome))
        return;
    m_dialog->close();
    reload();
}

void qwLocalUsers::askDelete(const QString &name)
{
    const LocalUserRules::Outcome allowed = rules().checkRemove(name);
    if (allowed != LocalUserRules::Deleted) {
        showOutcome(allowed);
        return;
    }
    auto *ask = new qwTipsDlg(this, text("remindtype", localpage::TipTexts), 2);
    ask->setProperty(kTipKeyProperty, QStringLiteral("askdeleteuser"));
    ask->setTipText(text("askdeleteuser", localpage::TipTexts).arg(name));
    // Queued: the answer comes once the question has closed, so that a
    // message is not shown over it and closed with it.
    connect(
        ask, &qwTipsDlg::sigTipsresult, this,
        [this, name](int result) {
            if (result != 1 || !userrights::check(this, userrights::LocalConfiguration))
                return;
            LocalUserRules rules = this->rules();
            showOutcome(rules, rules.remove(name), "delete user", name);
            reload();
        },
        Qt::QueuedConnection);
    ask->show();
}

void qwLocalUsers::showOutcome(const LocalUserRules &rules, LocalUserRules::Outcome outcome, const char *decl,
                               const QString &name)
{
    // Told and logged as every refusal of the database is.
    if (!rules.failure().isEmpty()) {
        refusal::tell(this, decl, QString(), QString(), refusal::note(name, rules.failure()));
        return;
    }
    showOutcome(outcome);
}

void qwLocalUsers::showOutcome(LocalUserRules::Outcome outcome)
{
    localpage::showTip(this, LocalUserRules::succeeded(outcome) ? localpage::SuccessTip : localpage::FailureTip,
                       LocalUserRules::tipKey(outcome));
}
