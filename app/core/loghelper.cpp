#include "app/core/loghelper.h"

#include <QSqlQuery>
#include <QVariant>

#include "app/core/sqlitefile.h"

const char *const qcLogHelper::kFileName = "cmsclient.logx";
const char *const qcLogHelper::kConnectionName = "systemlog";

qcLogHelper *g_logHelper = nullptr;

namespace {

const QStringList kLogTables = {"systemlogs"};
const QString kSelectLogs =
    QStringLiteral("select logdate,curuser,logtype,logdecl,reldevname,reldevaddr,lognote from systemlogs");

QString logTime(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd'T'hh:mm:ss"));
}

} // namespace

bool writeSystemLog(const QString &user, const QString &decl, const QString &devName, const QString &devAddr,
                    const QString &note, int type)
{
    return g_logHelper && g_logHelper->addLog(_st_log_item(logTime(QDateTime::currentDateTime()), user, decl, devName,
                                                           devAddr, note, type));
}

qcLogHelper::qcLogHelper(QObject *parent) : QThread(parent), m_from(QDateTime::currentDateTime()), m_to(m_from)
{
    registerLogItemMetaType();
}

qcLogHelper::~qcLogHelper()
{
    // Deleting a QThread that still runs aborts the process; the thread ends
    // promptly once asked, after writing what is queued.
    stop();
}

bool qcLogHelper::checkDatabaseFile(QString *reason)
{
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("%1-check-%2").arg(QLatin1String(kConnectionName)).arg(++serial);
    bool ok;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        ok = sqlitefile::openExisting(db, kFileName, kLogTables, true, reason);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QString qcLogHelper::openError() const
{
    QMutexLocker lock(&m_queueLock);
    return m_openError;
}

bool qcLogHelper::addLog(const _st_log_item &item)
{
    {
        QMutexLocker lock(&m_queueLock);
        if (m_openFailed || m_ended)
            return false;
        m_queue.append(item);
    }
    QMutexLocker wake(&m_wakeLock);
    m_wake.wakeAll();
    return true;
}

bool qcLogHelper::requestQuery(int kind, const QDateTime &from, const QDateTime &to)
{
    if (kind < 0 || kind > 3)
        return false;
    QMutexLocker wake(&m_wakeLock);
    if (queryPending)
        return false;
    m_kind = kind;
    m_from = from;
    m_to = to;
    queryPending = true;
    m_wake.wakeAll();
    return true;
}

void qcLogHelper::stop()
{
    m_stop = true;
    {
        QMutexLocker wake(&m_wakeLock);
        m_wake.wakeAll();
    }
    if (QThread::currentThread() != this)
        wait();
}

bool qcLogHelper::hasWork()
{
    if (m_stop || queryPending)
        return true;
    QMutexLocker lock(&m_queueLock);
    return !m_queue.isEmpty();
}

void qcLogHelper::run()
{
    if (!openLogDatabase()) {
        QMutexLocker lock(&m_queueLock);
        m_openFailed = true;
        m_queue.clear();
    } else {
        for (;;) {
            {
                // Checked under the wake lock that every waker takes, so a
                // record or query that arrives before the wait is never missed.
                QMutexLocker wake(&m_wakeLock);
                while (!hasWork())
                    m_wake.wait(&m_wakeLock);
            }
            writeQueued();
            if (m_stop)
                break;
            if (queryPending) {
                runQuery();
                queryPending = false;
            }
        }
        writeQueued();
        m_db.close();
    }
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(kConnectionName);
}

bool qcLogHelper::openLogDatabase()
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
    QString reason;
    opened = sqlitefile::openExisting(m_db, kFileName, kLogTables, false, &reason);
    QMutexLocker lock(&m_queueLock);
    m_openError = reason;
    return opened;
}

bool qcLogHelper::insertLog(const _st_log_item &item)
{
    if (!opened)
        return false;
    QSqlQuery q(m_db);
    if (!q.prepare(
            QStringLiteral("insert into systemlogs(logdate,curuser,logtype,logdecl,reldevname,reldevaddr,lognote) "
                           "values(?,?,?,?,?,?,?)")))
        return false;
    for (const QVariant &v :
         {QVariant(item.logdate), QVariant(item.curuser), QVariant(item.logtype), QVariant(item.logdecl),
          QVariant(item.reldevname), QVariant(item.reldevaddr), QVariant(item.lognote)})
        q.addBindValue(v);
    return q.exec();
}

void qcLogHelper::writeQueued()
{
    QList<_st_log_item> batch;
    {
        QMutexLocker lock(&m_queueLock);
        batch.swap(m_queue);
        // After the last pass nothing may wait in a queue nobody reads.
        if (m_stop)
            m_ended = true;
    }
    if (batch.isEmpty())
        return;
    // One transaction per batch keeps a burst of records cheap; a record
    // whose insert fails is skipped and the rest are still written.
    const bool inTransaction = m_db.transaction();
    for (const _st_log_item &item : batch)
        insertLog(item);
    if (inTransaction && !m_db.commit())
        m_db.rollback();
    purgeLogs();
}

void qcLogHelper::purgeLogs()
{
    if (!opened)
        return;
    qint64 rows = 0;
    {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("select COUNT(logtype) from systemlogs")) || !q.next())
            return;
        rows = q.value(0).toLongLong();
    }
    if (rows <= kMaxRows)
        return;
    QSqlQuery q(m_db);
    if (q.prepare(QStringLiteral("delete from systemlogs where logdate in"
                                 "(select logdate from systemlogs order by rowid limit ?)"))) {
        q.addBindValue(rows - kKeptRows);
        q.exec();
    }
}

void qcLogHelper::runQuery()
{
    if (!opened)
        return;
    const int kind = m_kind;
    const QDateTime from = m_from;
    const QDateTime to = m_to;

    QString sql = kSelectLogs;
    QVariantList values;
    if (from < to) {
        // The stored "T" text compares against datetime()'s blank-separated
        // text; with the upper bound a day later, the whole last day is in.
        sql += QStringLiteral(" where logdate >= datetime(?) and logdate <= datetime(?)");
        values << logTime(from) << logTime(to.addDays(1));
    } else if (from == to) {
        sql += QStringLiteral(" where logdate like ?");
        values << from.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('%');
    }
    if (kind != 0 && from <= to) {
        sql += QStringLiteral(" and logtype = ?");
        values << kind;
    }

    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return;
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        return;
    // A stop must not wait for a long result to be delivered.
    while (!m_stop && q.next()) {
        emit sigHaslogitem(_st_log_item(q.value(0).toString(), q.value(1).toString(), q.value(3).toString(),
                                        q.value(4).toString(), q.value(5).toString(), q.value(6).toString(),
                                        q.value(2).toInt()));
    }
}
