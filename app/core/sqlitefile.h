#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace sqlitefile {

// Opens `db` (an added QSQLITE connection) on `file`, relative to the working
// directory, without ever creating it, and checks that every table of
// `tables` is there. On failure the connection is left closed and `reason`
// (when given) says what is wrong, naming the file, for start-up to show.
bool openExisting(QSqlDatabase &db, const QString &file, const QStringList &tables, bool readOnly, QString *reason);

} // namespace sqlitefile
