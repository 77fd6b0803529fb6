#pragma once

// Another connection to a database file, holding it locked until it goes:
// every statement of the program's own connection then finds it busy.
// Header only, over Qt's SQL module: the suites that include it link app_core.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

namespace testsupport {

struct HeldLock
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "held");
    bool hold(const QString &file)
    {
        db.setDatabaseName(file);
        return db.open() && QSqlQuery(db).exec("begin exclusive");
    }
    ~HeldLock()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("held");
    }
};

} // namespace testsupport
