#include "app/core/sqlitefile.h"

#include "app/core/busywait.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sys/stat.h>

namespace sqlitefile {

static bool fail(QSqlDatabase &db, QString *reason, const QString &text)
{
    db.close();
    if (reason)
        *reason = text;
    return false;
}

// The databases hold the device passwords: a file that others may read, as
// older installations and copies made them, is closed to them before use.
static void makePrivate(const QString &file)
{
    const QByteArray path = QFile::encodeName(file);
    struct stat st;
    if (::stat(path.constData(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
        ::chmod(path.constData(), st.st_mode & S_IRWXU);
}

bool openExisting(QSqlDatabase &db, const QString &file, const QStringList &tables, bool readOnly, QString *reason)
{
    // The driver would create a missing file and report success; an empty
    // database then fails every statement without a word. The URI mode keeps
    // SQLite from creating anything, and the checks below give the reason.
    if (!QFileInfo(file).isFile())
        return fail(db, reason, QStringLiteral("%1: missing").arg(file));
    makePrivate(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
    db.setDatabaseName(QStringLiteral("file:%1?mode=%2").arg(file, readOnly ? "ro" : "rw"));
    if (!db.open())
        return fail(db, reason, QStringLiteral("%1: cannot be opened (%2)").arg(file, db.lastError().text()));

    // Opening is lazy; the first read finds out whether this is SQLite at all.
    QStringList present;
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select name from sqlite_master where type = 'table'"))) {
            // A file another program holds is a database all the same.
            const char *what = isBusyError(q.lastError()) ? "busy: another program holds it" : "not a database";
            return fail(db, reason, QStringLiteral("%1: %2 (%3)").arg(file, QLatin1String(what), q.lastError().text()));
        }
        while (q.next())
            present << q.value(0).toString();
    }
    for (const QString &table : tables) {
        if (!present.contains(table))
            return fail(db, reason, QStringLiteral("%1: table %2 missing").arg(file, table));
    }
    if (reason)
        reason->clear();
    return true;
}

} // namespace sqlitefile
