#include "app/shell/qwunlockclient.h"

#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

qwUnlockClient::qwUnlockClient(QWidget *parent, const QString &userName)
    : BaseWindow(parent, 0, 278, 168), m_userName(userName)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setTitleIcon(QStringLiteral(":/images/srcimages/lockicon.png"));
    setTitleText(uiText("unlockclient"), TitleLeft);
    setWindowTitle(uiText("unlockclient"));
    setObjectName(QStringLiteral("widget_LockClient"));

    m_content = new QWidget(this);
    auto *nameTitle = new QLabel(uiText("username"), m_content);
    nameTitle->setFixedSize(88, 24);
    auto *name = new QLabel(userName, m_content);
    name->setFixedSize(128, 24);
    name->setTextFormat(Qt::PlainText);
    auto *passwordTitle = new QLabel(uiText("password"), m_content);
    passwordTitle->setFixedSize(88, 24);
    m_password = new QLineEdit(m_content);
    m_password->setFixedSize(128, 22);
    m_password->setEchoMode(QLineEdit::Password);
    m_unlock = new QPushButton(uiText("unlockclient"), m_content);
    m_unlock->setFixedSize(102, 32);

    m_content->setContentsMargins(12, 12, 16, 4);
    auto *outer = new QVBoxLayout(m_content);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(12);
    grid->addWidget(nameTitle, 0, 0);
    grid->addWidget(name, 0, 1);
    grid->addWidget(passwordTitle, 1, 0);
    grid->addWidget(m_password, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_unlock, 2, 0, 2, 2, Qt::AlignCenter);
    outer->addLayout(grid);
    outer->addStretch();

    resize(274, 168);
    installEventFilter(this);
    connect(m_unlock, &QPushButton::clicked, this, &qwUnlockClient::onConfirm);
    m_password->setFocus();
}

bool qwUnlockClient::beforeClose()
{
    return m_unlocked;
}

void qwUnlockClient::onConfirm()
{
    if (!g_database)
        return;
    const QString typed = m_password->text();
    QList<_st_user_item> users;
    const ReadStatus status = g_database->readUsers(users);
    if (!status.ok()) {
        // Nothing was compared: the password may well be right.
        showKeyedTip(this, qwTipsdlgEx::Failure, QString::fromLatin1(status.textKey()), uiText(status.textKey(), 38));
        writeUnreadLog(m_userName, status, QStringLiteral("the users could not be read: unlock not checked"));
        return;
    }
    for (const _st_user_item &user : qAsConst(users)) {
        if (user.username == m_userName && user.password == typed) {
            m_unlocked = true;
            emit sigUnlock();
            close();
            return;
        }
    }
}

bool qwUnlockClient::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Enter || key == Qt::Key_Return)
            onConfirm();
    }
    return BaseWindow::eventFilter(watched, event);
}

void qwUnlockClient::resizeEvent(QResizeEvent *event)
{
    BaseWindow::resizeEvent(event);
    m_content->setGeometry(getClientRect());
}
