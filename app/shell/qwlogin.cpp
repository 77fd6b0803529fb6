#include "app/shell/qwlogin.h"

#include "app/core/autologin.h"
#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/loginrule.h"
#include "app/core/uitext.h"
#include "app/shell/cmsclient.h"
#include "app/shell/qwunlockclient.h"
#include "app/widgets/refusal.h"
#include "app/widgets/stylesheets.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExpValidator>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace {
const char kAutoPasswordFill[] = "731905";
}

qwLogin::qwLogin(QWidget *parent) : BaseWindow(parent, 0, 416, 248)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);
    QString title = uiText("loginopt");
    if (title.isEmpty())
        title = QStringLiteral("Login");
    setTitleText(title, TitleCentered);
    setWindowTitle(title);

    resize(416, 248);
    auto *content = new QWidget(this);
    content->setGeometry(getClientRect());
    setStyleSheet(QString::fromLatin1(styles::kLogin));
    buildForm(content);
    installEventFilter(this);
}

qwLogin::~qwLogin()
{
    if (m_messageTimer != -1)
        killTimer(m_messageTimer);
    if (m_autoLoginTimer != -1)
        killTimer(m_autoLoginTimer);
}

void qwLogin::buildForm(QWidget *content)
{
    content->setContentsMargins(48, 26, 48, 4);
    m_btnLogin = new QPushButton(uiText("loginopt"), content);
    m_btnCancel = new QPushButton(uiText("cancelopt"), content);
    m_btnLogin->setFixedSize(122, 30);
    m_btnCancel->setFixedSize(122, 30);
    m_autoLogin = new QCheckBox(uiText("autologinchk"), content);
    m_autoLogin->setFixedHeight(22);
    m_user = new QLineEdit(content);
    m_password = new QLineEdit(content);
    m_user->setFixedHeight(26);
    m_password->setFixedHeight(26);
    m_message = new QLabel(content);
    m_message->setFixedHeight(22);

    auto *userIcon = new QLabel(content);
    auto *passwordIcon = new QLabel(content);
    userIcon->setFixedSize(26, 26);
    passwordIcon->setFixedSize(26, 26);
    userIcon->setPixmap(QPixmap(QStringLiteral(":/images/srcimages/general/user.png"))
                            .scaled(26, 26, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    passwordIcon->setPixmap(QPixmap(QStringLiteral(":/images/srcimages/general/password.png"))
                                .scaled(26, 26, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));

    m_user->setPlaceholderText(uiText("username"));
    m_password->setPlaceholderText(uiText("password"));
    m_password->setEchoMode(QLineEdit::Password);
    for (QLineEdit *edit : {m_user, m_password}) {
        edit->setMaxLength(loginrule::kMaxLength);
        edit->setValidator(new QRegExpValidator(loginrule::allowed(), edit));
    }
    m_message->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_message->setStyleSheet(QString::fromLatin1(styles::kLoginMessage));

    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto *nameRow = new QHBoxLayout;
    nameRow->setContentsMargins(0, 0, 28, 0);
    nameRow->setSpacing(6);
    nameRow->addWidget(userIcon);
    nameRow->addWidget(m_user);
    auto *passwordRow = new QHBoxLayout;
    passwordRow->setContentsMargins(0, 0, 28, 0);
    passwordRow->setSpacing(6);
    passwordRow->addWidget(passwordIcon);
    passwordRow->addWidget(m_password);
    auto *checkRow = new QHBoxLayout;
    checkRow->setContentsMargins(36, 0, 0, 0);
    checkRow->addWidget(m_autoLogin);
    checkRow->addStretch();
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->setSpacing(6);
    buttonRow->addStretch();
    buttonRow->addWidget(m_btnLogin);
    buttonRow->addWidget(m_btnCancel);
    buttonRow->addStretch();
    layout->addLayout(nameRow);
    layout->addLayout(passwordRow);
    layout->addLayout(checkRow);
    layout->addLayout(buttonRow);
    layout->addWidget(m_message);

    userIcon->setFocusPolicy(Qt::NoFocus);
    passwordIcon->setFocusPolicy(Qt::NoFocus);
    m_message->setFocusPolicy(Qt::NoFocus);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_autoLogin);
    setTabOrder(m_autoLogin, m_btnLogin);
    setTabOrder(m_btnLogin, m_btnCancel);
    m_user->setFocus();

    connect(m_btnCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(m_btnLogin, &QPushButton::clicked, this, &qwLogin::OnBtnLoginClicked);
}

void qwLogin::showMessage(const char *key)
{
    m_message->setText(uiText(key, 38));
    // The message stays until five seconds after the latest one.
    if (m_messageTimer != -1)
        killTimer(m_messageTimer);
    m_messageTimer = startTimer(kMessageMs, Qt::CoarseTimer);
}

void qwLogin::log(const QString &user, const char *text, const QString &note)
{
    writeSystemLog(user, QString::fromLatin1(text), QString(), QString(), note, kLogOperation);
}

bool qwLogin::readable(ReadStatus status, const QString &user)
{
    if (status.ok())
        return true;
    // Nothing was compared: the password may well be right.
    showMessage(status.textKey());
    writeUnreadLog(user, status, QStringLiteral("the users could not be read: login not checked"));
    return false;
}

void qwLogin::openMainWindow()
{
    if (!m_mainWindow)
        m_mainWindow = new cmsclient(nullptr, m_userName);
    m_mainWindow->show();
}

void qwLogin::OnBtnLoginClicked()
{
    if (!g_database) {
        showMessage("databaseerr");
        return;
    }
    const QString name = m_user->text();
    const QString password = m_password->text();
    if (name.isEmpty() || password.isEmpty()) {
        showMessage("neednameorpwd");
        return;
    }

    QList<_st_user_item> users;
    if (!readable(g_database->readUsers(users), name))
        return;
    const _st_user_item *user = autologin::userNamed(users, name);
    if (!user || user->password != password) {
        log(name, "login failed");
        showMessage("nameorpwderr");
        return;
    }

    hide();
    QString refused;
    const bool remembered = !m_autoLogin->isChecked() || autologin::switchOn(*g_database, name, &refused);
    m_userName = name;
    log(name, "login successful");
    g_curUserName = name;
    g_curUserRights = quint32(user->usertype);
    openMainWindow();
    // The login holds; only the choice to log in alone next time was lost.
    if (!remembered)
        refusal::tell(m_mainWindow, "modify system options", QString(), QString(),
                      refusal::note(uiTextOrKey("autologinchk"), refused));
    close();
}

void qwLogin::OnBtnCancelClicked()
{
    close();
}

bool qwLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Enter || key == Qt::Key_Return)
            OnBtnLoginClicked();
    }
    return BaseWindow::eventFilter(watched, event);
}

void qwLogin::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    if (!g_database)
        return;
    // Both reads before anything is done: a login without its rights is none.
    const SettingsRow stored = g_database->readSettings();
    if (!readable(stored.status(), QStringLiteral("")) || !stored.getAutoLogin())
        return;
    const QString name = stored.getAutoName();
    QList<_st_user_item> users;
    if (!readable(g_database->readUsers(users), name))
        return;
    const _st_user_item *user = autologin::userNamed(users, name);
    if (!user) {
        // The form is left to a person; the choice stays stored, so that the
        // one who logs in can see it ticked in the options and mend it.
        log(name, "login failed", autologin::notDoneNote(name));
        return;
    }

    m_userName = name;
    log(m_userName, "login successful");
    g_curUserName = m_userName;
    m_user->setText(m_userName);
    m_password->setText(QString::fromLatin1(kAutoPasswordFill));
    m_autoLogin->setChecked(true);
    for (QWidget *w :
         {static_cast<QWidget *>(m_user), static_cast<QWidget *>(m_password), static_cast<QWidget *>(m_autoLogin),
          static_cast<QWidget *>(m_btnLogin), static_cast<QWidget *>(m_btnCancel)})
        w->setEnabled(false);
    if (m_autoLoginTimer != -1)
        killTimer(m_autoLoginTimer);
    m_autoLoginTimer = startTimer(kAutoLoginMs, Qt::CoarseTimer);
    g_curUserRights = quint32(user->usertype);
}

void qwLogin::timerEvent(QTimerEvent *event)
{
    const int id = event->timerId();
    if (id == m_messageTimer) {
        killTimer(m_messageTimer);
        m_messageTimer = -1;
        m_message->clear();
    } else if (id == m_autoLoginTimer) {
        killTimer(m_autoLoginTimer);
        m_autoLoginTimer = -1;
        openMainWindow();
        close();
    }
}
