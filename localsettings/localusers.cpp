#include "localsettings/localusers.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/loginrule.h"
#include "app/widgets/userrights.h"
#include "localsettings/localpagelook.h"

#include <QDateTime>
#include <QStringList>

namespace {

constexpr int kRightsSection = 97;

bool holdsLocalConfiguration(const _st_user_item &user)
{
    return quint32(user.usertype) & userrights::LocalConfiguration;
}

} // namespace

LocalUserRules::LocalUserRules(qcDatabase *db) : m_db(db) {}

QList<_st_user_item> LocalUserRules::users() const
{
    QList<_st_user_item> list;
    read(list);
    return list;
}

ReadStatus LocalUserRules::read(QList<_st_user_item> &out) const
{
    out.clear();
    return m_db ? m_db->readUsers(out) : ReadStatus{ReadStatus::Closed};
}

bool LocalUserRules::find(const QString &name, _st_user_item *out) const
{
    // findUser leaves group and description out, so the whole row comes
    // from the list.
    for (const _st_user_item &user : users()) {
        if (user.username == name) {
            if (out)
                *out = user;
            return true;
        }
    }
    return false;
}

int LocalUserRules::otherLocalConfigHolders(const QString &name) const
{
    int count = 0;
    for (const _st_user_item &user : users())
        if (user.username != name && holdsLocalConfiguration(user))
            ++count;
    return count;
}

LocalUserRules::Outcome LocalUserRules::checkInput(const _st_user_item &user, const QString &confirmPassword) const
{
    if (user.username.trimmed().isEmpty())
        return EmptyName;
    if (user.password.isEmpty())
        return EmptyPassword;
    if (user.password != confirmPassword)
        return PasswordMismatch;
    return Added;
}

LocalUserRules::Outcome LocalUserRules::add(const _st_user_item &user, const QString &confirmPassword)
{
    m_failure.clear();
    const Outcome input = checkInput(user, confirmPassword);
    if (input != Added)
        return input;
    if (!loginrule::canBeTyped(user.username.trimmed()))
        return NameNotTypeable;
    if (!loginrule::canBeTyped(user.password))
        return PasswordNotTypeable;
    if (!m_db) {
        m_failure = QStringLiteral("no database");
        return DatabaseClosed;
    }
    // A blank at either end is invisible in the list and at the login: "guard "
    // would look like a second "guard". Rows stored before names were trimmed
    // are compared trimmed as well.
    _st_user_item trimmed = user;
    trimmed.username = user.username.trimmed();
    for (const _st_user_item &other : users())
        if (other.username.trimmed() == trimmed.username)
            return NameExists;
    QString why;
    switch (m_db->addUser(trimmed, &why)) {
    case 0:
        writeLog("add user", trimmed.username);
        return Added;
    case 1:
        return NameExists;
    case 2:
        m_failure = why;
        return AddFailed;
    default:
        m_failure = why;
        return DatabaseClosed;
    }
}

LocalUserRules::Outcome LocalUserRules::modify(const _st_user_item &user, const QString &confirmPassword)
{
    m_failure.clear();
    const Outcome input = checkInput(user, confirmPassword);
    if (input != Added)
        return input;
    _st_user_item stored;
    if (!m_db || !find(user.username, &stored))
        return NoSuchUser;
    if (user.password != stored.password && !loginrule::canBeTyped(user.password))
        return PasswordNotTypeable;
    if (holdsLocalConfiguration(stored) && !holdsLocalConfiguration(user) &&
        otherLocalConfigHolders(user.username) == 0)
        return LastLocalConfiguration;
    if (!m_db->updateUser(user, &m_failure))
        return ModifyFailed;
    // Conservative: a right taken from the logged-in user is gone now, not
    // only after the next login.
    if (!g_curUserName.isEmpty() && user.username == g_curUserName)
        g_curUserRights = quint32(user.usertype);
    return Modified;
}

LocalUserRules::Outcome LocalUserRules::checkRemove(const QString &name) const
{
    _st_user_item stored;
    if (!m_db || !find(name, &stored))
        return DeleteFailed;
    if (!g_curUserName.isEmpty() && name == g_curUserName)
        return DeletingCurrentUser;
    if (holdsLocalConfiguration(stored) && otherLocalConfigHolders(name) == 0)
        return LastLocalConfiguration;
    return Deleted;
}

LocalUserRules::Outcome LocalUserRules::remove(const QString &name)
{
    m_failure.clear();
    const Outcome allowed = checkRemove(name);
    if (allowed != Deleted)
        return allowed;
    if (!m_db->deleteUser(name, &m_failure))
        return DeleteFailed;
    writeLog("delete user", name);
    return Deleted;
}

void LocalUserRules::writeLog(const char *what, const QString &name)
{
    writeSystemLog(g_curUserName, QString::fromLatin1(what), QString(), QString(), name, kLogOperation);
}

bool LocalUserRules::succeeded(Outcome outcome)
{
    return outcome == Added || outcome == Modified || outcome == Deleted;
}

const char *LocalUserRules::tipKey(Outcome outcome)
{
    switch (outcome) {
    case Added:
        return "addusersucc";
    case Modified:
        return "modifyusersucc";
    case Deleted:
        return "delusersecc";
    case EmptyName:
    case EmptyPassword:
        return "neednameorpwd";
    case PasswordMismatch:
        return "notmatch";
    case NameExists:
        return "usernameexist";
    case AddFailed:
        return "addusererr";
    case DatabaseClosed:
        return "databaseerr";
    case NoSuchUser:
    case ModifyFailed:
        return "modifyusererr";
    case DeleteFailed:
        return "delusererr";
    case DeletingCurrentUser:
        return "delcuruser";
    case LastLocalConfiguration:
        return "lastlocalcfg";
    case NameNotTypeable:
        return "loginnamechars";
    case PasswordNotTypeable:
        return "loginpwdchars";
    }
    return "unknowerror";
}

const QList<LocalUserRules::Right> &LocalUserRules::rights()
{
    static const QList<Right> list = {
        {userrights::PtzControl, "ptzcontrol"},
        {userrights::Snapshot, "snapshot"},
        {userrights::ManualRecording, "manualrec"},
        {userrights::Playback, "playback"},
        {userrights::LogView, "logview"},
        {userrights::DeviceConfiguration, "devconfigure"},
        {userrights::LocalConfiguration, "localconfigure"},
        {userrights::ScheduleManagement, "schedulemgr"},
        {userrights::DeviceManagement, "devicemgr"},
    };
    return list;
}

QString LocalUserRules::rightName(const Right &right)
{
    return localpage::text(right.key, localpage::LocalTexts, kRightsSection);
}

QString LocalUserRules::rightsSummary(int usertype)
{
    QStringList names;
    for (const Right &right : rights()) {
        if (quint32(usertype) & right.bit) {
            names.append(rightName(right));
        }
    }
    return names.join(QStringLiteral(", "));
}
