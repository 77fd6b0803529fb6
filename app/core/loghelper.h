#pragma once

#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QSqlDatabase>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

#include "app/core/records.h"

// The system log: a thread that owns the log database "cmsclient.logx" of
// the working directory, writes the records any thread hands it, keeps the
// table below its size limit and answers the log page's searches with one
// signal per record found.
//
// Records handed in before the thread has opened the file wait in the queue;
// they are dropped (and addLog() says so) only once the open has failed. A
// stop writes everything still queued before the thread ends.
class qcLogHelper : public QThread
{
    Q_OBJECT
public:
    static const char *const kFileName;       // "cmsclient.logx"
    static const char *const kConnectionName; // "systemlog"
    static constexpr int kMaxRows = 80000;    // more than this after a batch cuts the table
    static constexpr int kKeptRows = 6000;    // to about this many

    explicit qcLogHelper(QObject *parent = nullptr);
    ~qcLogHelper() override;

    // Checks, through a short-lived read-only connection, that the log file
    // is there and holds its table; for start-up, before the thread starts.
    static bool checkDatabaseFile(QString *reason);

    // Any thread. False only when the record will never be written: the open
    // has failed, or the thread has already ended.
    bool addLog(const _st_log_item &item);
    // Kind 0 all records, 1..3 records of that logtype. False while another
    // query is pending or for another kind.
    bool requestQuery(int kind, const QDateTime &from, const QDateTime &to);
    // Writes what is queued, closes the file and waits for the thread to end.
    // Not to be called from the log thread itself.
    void stop();

    bool isOpened() const { return opened.load(); }
    // Any thread. Once false after an accepted request, every record of that
    // query has been emitted: the signals were sent before the flag dropped.
    bool isQueryPending() const { return queryPending.load(); }
    // Why the log file could not be opened; empty otherwise.
    QString openError() const;

signals:
    void sigHaslogitem(_st_log_item item);

protected:
    void run() override;

private:
    bool openLogDatabase();
    bool insertLog(const _st_log_item &item);
    void writeQueued(); // queue lock held by the caller
    void purgeLogs();
    void runQuery();
    bool hasWork();

    QSqlDatabase m_db;
    mutable QMutex m_queueLock;
    QMutex m_wakeLock;
    QWaitCondition m_wake;
    QList<_st_log_item> m_queue;
    int m_kind = 0;
    QDateTime m_from;
    QDateTime m_to;
    std::atomic<bool> opened{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> queryPending{false};
    // Guarded by the queue lock: once set, addLog() refuses.
    bool m_openFailed = false;
    bool m_ended = false;
    QString m_openError;
};

// The one log of the running program, set by start-up.
extern qcLogHelper *g_logHelper;

// Hands g_logHelper a record stamped with the local time now; false when
// there is no log or it will never write the record.
bool writeSystemLog(const QString &user, const QString &decl, const QString &devName, const QString &devAddr,
                    const QString &note, int type);
