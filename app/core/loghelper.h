#pragma once

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <limits>

#include "app/core/records.h"

// The system log: a thread that owns the log database "cmsclient.logx" of
// the working directory, writes the records any thread hands it, keeps the
// table below its size limit and answers the log page's searches with one
// signal per record found.
//
// Records handed in before the thread has opened the file wait in the queue;
// they are dropped (and addLog() says so) only once the open has failed.
// Records are written oldest first, one transaction per batch. A batch the
// disk has no room for is halved until it fits, down to one record, so that
// a nearly full disk takes what it can; a batch the file refuses otherwise
// (another program holds it), or a single record that does not fit, stays
// queued, in order, and is tried again after kRetryMs. Only beyond
// kMaxWaiting records are new ones dropped, and how many is written to the
// log once, after the last record that waited. A stop writes everything
// still queued before the thread ends, if the file lets it.
class qcLogHelper : public QThread
{
    Q_OBJECT
public:
    static const char *const kFileName;       // "cmsclient.logx"
    static const char *const kConnectionName; // "systemlog"
    static constexpr int kMaxRows = 80000;    // more than this after a batch cuts the table
    static constexpr int kKeptRows = 6000;    // to about this many
    static constexpr int kMaxWaiting = 20000; // records kept while the file refuses them
    static constexpr int kRetryMs = 1000;     // pause before a refused batch is tried again

    explicit qcLogHelper(QObject *parent = nullptr);
    ~qcLogHelper() override;

    // Checks, through a short-lived read-only connection, that the log file
    // is there and holds its table; for start-up, before the thread starts.
    static bool checkDatabaseFile(QString *reason);

    // Any thread. False only when the record will never be written: the open
    // has failed, the thread has already ended, or the file has refused so
    // long that the most records that may wait are waiting.
    bool addLog(const _st_log_item &item);
    // How many records may wait for the file (kMaxWaiting unless set).
    void setWaitingLimit(int records);
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
    // Any thread, once isQueryPending() is false: whether the last query
    // accepted could not be read whole (the file busy or broken), so that
    // the records it delivered are not all that match.
    bool lastQueryFailed() const { return m_queryFailed.load(); }
    // Why the log file could not be opened; empty otherwise.
    QString openError() const;

signals:
    void sigHaslogitem(_st_log_item item);

protected:
    void run() override;

private:
    bool openLogDatabase();
    // The record's own error when it fails; invalid after success.
    QSqlError insertLog(const _st_log_item &item);
    enum class Outcome { Written, Full, Refused };
    // Writes the queue in batches that fit; false when part of it waits.
    bool writeQueued();
    // The batch, then the note of `untold` dropped records, in one
    // transaction: Full when the disk had no room for it. Records the
    // database refuses for themselves are left out and counted in that note.
    Outcome writeBatch(const QList<_st_log_item> &batch, qint64 untold);
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
    std::atomic<bool> m_queryFailed{false};
    // Log thread only: when a refused batch is tried again; forever while
    // nothing waits for the file.
    QDeadlineTimer m_retry{QDeadlineTimer::Forever};
    // Log thread only: the most records one batch takes; halved while the
    // disk has no room, doubled again with every batch written.
    int m_batchLimit = std::numeric_limits<int>::max();
    // Guarded by the queue lock: once set, addLog() refuses.
    bool m_openFailed = false;
    bool m_ended = false;
    QString m_openError;
    int m_waitingLimit = kMaxWaiting;
    int m_inFlight = 0;   // taken from the queue and being written
    qint64 m_dropped = 0; // dropped and not yet written to the log
};

// The one log of the running program, set by start-up.
extern qcLogHelper *g_logHelper;

// Hands g_logHelper a record stamped with the local time now; false when
// there is no log or it will never write the record.
bool writeSystemLog(const QString &user, const QString &decl, const QString &devName, const QString &devAddr,
                    const QString &note, int type);

struct ReadStatus;
// A read of the local database that did not work, as an abnormal record:
// "database busy" while another program holds the file, else "database
// error"; `note` says what could not be read and what happens meanwhile.
bool writeUnreadLog(const QString &user, ReadStatus status, const QString &note);
