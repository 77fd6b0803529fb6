#include "app/core/autologin.h"

#include "app/core/database.h"

namespace autologin {

const _st_user_item *userNamed(const QList<_st_user_item> &users, const QString &name)
{
    if (name.isEmpty())
        return nullptr;
    for (const _st_user_item &user : users) {
        if (user.username == name)
            return &user;
    }
    return nullptr;
}

QString notDoneNote(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("no user name is stored: automatic login not done")
                          : QStringLiteral("no local user has this name: automatic login not done");
}

bool switchOn(qcDatabase &db, const QString &name, QString *why)
{
    return db.setAutoName(name, why) && db.setAutoLogin(true, why);
}

} // namespace autologin
