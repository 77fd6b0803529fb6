#include "app/core/loghelper.h"

#include "app/core/busywait.h"
#include "app/core/readstatus.h"

#include <QSqlError>
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

_st_log_item droppedNote(qint64 count)
{
    return _st_log_item(
        logTime(QDateTime::currentDateTime()), QString(), QStringLiteral("log records dropped"), QString(), QString(),
        QStringLiteral("%1 records could not be written to the log file").arg(count), kLogAbnormalEvent);
}

} // namespace

bool writeSystemLog(const QString &user, const QString &decl, const QString &devName, const QString &devAddr,
                    const QString &note, int type)
{
    return g_logHelper && g_logHelper->addLog(_st_log_item(logTime(QDateTime::currentDateTime()), user, decl, devName,
                                                           devAddr, note, type));
}

bool writeUnreadLog(const QString &user, ReadStatus status, const QString &note)
{
    return writeSystemLog(user, status.busy() ? QStringLiteral("database busy") : QStringLiteral("database error"),
                          QString(), QString(), note, kLogAbnormalEvent);
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
        // A file that refuses records keeps them waiting, but not without end.
        if (m_queue.size() + m_inFlight >= m_waitingLimit) {
            if (m_dropped++ == 0)
                qWarning("system log: the log file takes no records; new ones are dropped until it does");
            return false;
        }
        m_queue.append(item);
    }
    QMutexLocker wake(&m_wakeLock);
    m_wake.wakeAll();
    return true;
}

void qcLogHelper::setWaitingLimit(int records)
{
    QMutexLocker lock(&m_queueLock);
    m_waitingLimit = qMax(1, records);
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
    m_queryFailed = false;
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
    // Records the file refused wait for the pause to end, not for a wake-up.
    if (!m_retry.isForever())
        return false;
    QMutexLocker lock(&m_queueLock);
    return !m_queue.isEmpty() || m_dropped > 0;
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
                while (!hasWork()) {
                    if (!m_wake.wait(&m_wakeLock, m_retry))
                        m_retry = QDeadlineTimer(QDeadlineTimer::Forever);
                }
            }
            if (m_retry.isForever() && !writeQueued())
                m_retry = QDeadlineTimer(kRetryMs);
            if (m_stop)
                break;
            if (queryPending) {
                runQuery();
                queryPending = false;
            }
        }
        if (!writeQueued()) {
            QMutexLocker lock(&m_queueLock);
            qWarning("system log: %d records were lost: the log file did not take them before the end",
                     int(m_queue.size()));
            m_queue.clear();
            m_ended = true;
        }
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

QSqlError qcLogHelper::insertLog(const _st_log_item &item)
{
    QSqlQuery q(m_db);
    if (!q.prepare(
            QStringLiteral("insert into systemlogs(logdate,curuser,logtype,logdecl,reldevname,reldevaddr,lognote) "
                           "values(?,?,?,?,?,?,?)")))
        return q.lastError();
    for (const QVariant &v :
         {QVariant(item.logdate), QVariant(item.curuser), QVariant(item.logtype), QVariant(item.logdecl),
          QVariant(item.reldevname), QVariant(item.reldevaddr), QVariant(item.lognote)})
        q.addBindValue(v);
    return q.exec() ? QSqlError() : q.lastError();
}

bool qcLogHelper::writeQueued()
{
    for (;;) {
        QList<_st_log_item> batch;
        qint64 untold = 0;
        {
            QMutexLocker lock(&m_queueLock);
            const int count = qMin(m_batchLimit, m_queue.size());
            if (count == m_queue.size()) {
                batch.swap(m_queue);
            } else {
                batch = m_queue.mid(0, count);
                m_queue.erase(m_queue.begin(), m_queue.begin() + count);
            }
            m_inFlight = count;
            // The note of dropped records is one more row after the last
            // record that waited: they came after all of those.
            if (m_queue.isEmpty() && count < m_batchLimit)
                untold = m_dropped;
            // After the last pass nothing may wait in a queue nobody reads.
            if (m_stop && m_queue.isEmpty())
                m_ended = true;
        }
        if (batch.isEmpty() && untold == 0)
            return true;
        const Outcome outcome = opened ? writeBatch(batch, untold) : Outcome::Refused;
        const int rows = batch.size() + (untold > 0 ? 1 : 0);
        {
            QMutexLocker lock(&m_queueLock);
            m_inFlight = 0;
            if (outcome == Outcome::Written) {
                m_dropped -= untold;
            } else {
                // In front of what came meanwhile, so the order stays.
                batch.append(m_queue);
                m_queue.swap(batch);
            }
        }
        if (outcome == Outcome::Written) {
            purgeLogs();
            m_batchLimit =
                m_batchLimit > std::numeric_limits<int>::max() / 2 ? std::numeric_limits<int>::max() : m_batchLimit * 2;
        } else if (outcome == Outcome::Full && rows > 1) {
            m_batchLimit = rows / 2;
        } else {
            return false;
        }
    }
}

qcLogHelper::Outcome qcLogHelper::writeBatch(const QList<_st_log_item> &batch, qint64 untold)
{
    qint64 skipped = 0;
    // One transaction per batch keeps a burst of records cheap, and a file
    // that refuses part of it keeps all of it waiting.
    QSqlError failure;
    if (!m_db.transaction())
        failure = m_db.lastError();
    for (int i = 0; !failure.isValid() && i <= batch.size(); ++i) {
        // The note of dropped records goes last: they came after the rest.
        const qint64 dropped = untold + skipped;
        if (i == batch.size() && dropped == 0)
            break;
        const QSqlError error = insertLog(i < batch.size() ? batch.at(i) : droppedNote(dropped));
        if (!error.isValid())
            continue;
        if (i < batch.size() && isRefusedForItself(error))
            ++skipped;
        else
            failure = error;
    }
    if (!failure.isValid()) {
        // The driver's commit() drops SQLite's own code, which tells a full
        // disk from the rest.
        QSqlQuery commit(m_db);
        if (commit.exec(QStringLiteral("COMMIT")))
            return Outcome::Written;
        failure = commit.lastError();
    }
    m_db.rollback();
    return isFullError(failure) ? Outcome::Full : Outcome::Refused;
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
    if (!opened) {
        m_queryFailed = true;
        return;
    }
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
    bool ran = q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    ran = ran && q.exec();
    // A stop must not wait for a long result to be delivered.
    while (ran && !m_stop && q.next()) {
        emit sigHaslogitem(_st_log_item(q.value(0).toString(), q.value(1).toString(), q.value(3).toString(),
                                        q.value(4).toString(), q.value(5).toString(), q.value(6).toString(),
                                        q.value(2).toInt()));
    }
    // A file held by another program looks like an empty result otherwise.
    if (!ran || (!m_stop && q.lastError().isValid()))
        m_queryFailed = true;
}
