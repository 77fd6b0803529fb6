#pragma once

#include "app/core/readstatus.h"
#include "app/core/records.h"

#include <QList>
#include <QString>

class qcDatabase;

// The rules of the local user list, apart from any widget: what may be
// added, changed and deleted, the database's answer turned into one
// outcome each, and the log records of what was done. The rules keep the
// client from locking itself out: the logged-in user stays, and some user
// keeps the local configuration right, since only such a user can manage
// users at all.
class LocalUserRules
{
public:
    enum Outcome {
        Added,
        Modified,
        Deleted,
        EmptyName,
        EmptyPassword,
        PasswordMismatch,
        NameExists,
        AddFailed,
        DatabaseClosed,
        NoSuchUser,
        ModifyFailed,
        DeleteFailed,
        DeletingCurrentUser,
        LastLocalConfiguration,
        NameNotTypeable,
        PasswordNotTypeable,
    };

    explicit LocalUserRules(qcDatabase *db);

    // Every user as the database holds it now, in table order; empty when
    // they could not be read, which read() tells apart.
    QList<_st_user_item> users() const;
    ReadStatus read(QList<_st_user_item> &out) const;
    bool find(const QString &name, _st_user_item *out) const;

    // Writes nothing unless the outcome is Added, Modified or Deleted. A
    // change of the logged-in user's own rights takes effect at once. A new
    // name is stored without blanks at its ends and must differ from every
    // other name so trimmed. A name or password that the login form cannot
    // take is refused; a stored password kept unchanged by a modify, and the
    // stored name, stay as they are.
    Outcome add(const _st_user_item &user, const QString &confirmPassword);
    Outcome modify(const _st_user_item &user, const QString &confirmPassword);
    Outcome remove(const QString &name);
    // What remove() would refuse, without writing: Deleted when allowed.
    Outcome checkRemove(const QString &name) const;
    // Why the database refused the last add, modify or remove, in its own
    // words where it gave any; empty when it did not refuse (a rule may
    // have).
    const QString &failure() const { return m_failure; }

    static bool succeeded(Outcome outcome);
    // The language key (page 38) of the tip that reports the outcome.
    static const char *tipKey(Outcome outcome);
    // The rights bits in the order the dialog and the summary list them,
    // each with its language key (page 36, section 97).
    struct Right
    {
        quint32 bit;
        const char *key;
    };
    static const QList<Right> &rights();
    // The name of a right as the operator reads it.
    static QString rightName(const Right &right);
    // The names of the rights held, in bit order, joined by ", ".
    static QString rightsSummary(int usertype);

private:
    Outcome checkInput(const _st_user_item &user, const QString &confirmPassword) const;
    // How many users other than name hold the local configuration right.
    int otherLocalConfigHolders(const QString &name) const;
    static void writeLog(const char *what, const QString &name);

    qcDatabase *m_db = nullptr;
    QString m_failure;
};
