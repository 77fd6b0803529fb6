#include <QtTest>

#include <QFile>
#include <QSqlDatabase>

#include <atomic>
#include <memory>

#include "app/core/loghelper.h"
#include "tests/support/heldlock.h"
#include "tests/support/runfolder.h"
#include "tests/support/seconddisk.h"

using testsupport::RunFolder;

static const QString kLog = QStringLiteral("cmsclient.logx");

static QString sql(const QString &query)
{
    return RunFolder::query(kLog, query);
}

// Fills the table with `count` rows one second apart from `start`, in one
// statement (one transaction).
static bool fillRows(int count, const QString &start = "2025-01-01")
{
    return RunFolder::exec(kLog, QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n "
                                                "where i < %1) insert into systemlogs select "
                                                "strftime('%Y-%m-%dT%H:%M:%S', '%2', '+' || i || ' seconds'), "
                                                "'seed', 1, 'filler', '', '', i from n")
                                     .arg(count)
                                     .arg(start));
}

static _st_log_item record(const QString &date, int type, const QString &note = QString())
{
    return _st_log_item(date, "admin", "test", "cam", "10.0.0.1", note, type);
}

static QDateTime at(const QString &text)
{
    return QDateTime::fromString(text, "yyyy-MM-dd hh:mm");
}

class TestLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<qcLogHelper> m_log;

    void startLog()
    {
        m_log.reset(new qcLogHelper);
        m_log->start(QThread::LowPriority);
    }

    // Runs one search and returns what it emitted. The search has finished
    // once a second request is accepted; that one matches nothing.
    QList<_st_log_item> search(int kind, const QDateTime &from, const QDateTime &to)
    {
        QList<_st_log_item> found;
        QMutex lock;
        const QMetaObject::Connection c = connect(
            m_log.get(), &qcLogHelper::sigHaslogitem, this,
            [&](_st_log_item item) {
                QMutexLocker l(&lock);
                found.append(item);
            },
            Qt::DirectConnection);
        const QDateTime never = at("1999-01-01 00:00");
        auto accepted = [&](int k, const QDateTime &f, const QDateTime &t) {
            return QTest::qWaitFor([&] { return m_log->requestQuery(k, f, t); }, 20000);
        };
        const bool done = accepted(kind, from, to) && accepted(3, never, never);
        disconnect(c);
        QMutexLocker l(&lock);
        if (!done)
            found.append(record("search timed out", 0));
        return found;
    }

    static QStringList dates(const QList<_st_log_item> &items)
    {
        QStringList out;
        for (const _st_log_item &i : items)
            out << i.logdate;
        out.sort();
        return out;
    }

private slots:
    void init()
    {
        m_folder.reset(new RunFolder);
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        m_log.reset();
        m_folder.reset();
    }

    void tableIsCutAboveTheLimit()
    {
        QVERIFY(fillRows(qcLogHelper::kMaxRows));
        startLog();
        QVERIFY(m_log->addLog(record("2026-01-01T00:00:00", 1, "newest")));
        m_log->stop();
        QCOMPARE(sql("select count(*) from systemlogs"), QString::number(qcLogHelper::kKeptRows));
        QCOMPARE(sql("select count(*) from systemlogs where lognote='newest'"), QString("1"));
        QCOMPARE(sql("select min(lognote + 0) from systemlogs where curuser='seed'"),
                 QString::number(qcLogHelper::kMaxRows - qcLogHelper::kKeptRows + 2));
    }

    void tableAtTheLimitStaysUntouched()
    {
        QVERIFY(fillRows(qcLogHelper::kMaxRows - 1));
        startLog();
        QVERIFY(m_log->addLog(record("2026-01-01T00:00:00", 1)));
        m_log->stop();
        QCOMPARE(sql("select count(*) from systemlogs"), QString::number(qcLogHelper::kMaxRows));
    }

    void searchesByRangeDayAndKind()
    {
        const QStringList stored = {"2026-02-28T23:59:59", "2026-03-01T00:00:00", "2026-03-01T13:05:00",
                                    "2026-03-02T00:00:00", "2026-03-02T10:00:00", "2026-03-02T23:59:59",
                                    "2026-03-03T23:59:59", "2026-03-04T00:00:00", "2026-03-04T12:00:00"};
        startLog();
        for (int i = 0; i < stored.size(); ++i)
            QVERIFY(m_log->addLog(record(stored.at(i), 1 + i % 3))); // kinds 1, 2, 3, 1, ...

        // Range, kind 0: every record of 1 to 3 March, whatever its time.
        QCOMPARE(dates(search(0, at("2026-03-01 00:00"), at("2026-03-03 00:00"))), stored.mid(1, 6));
        // Range with a kind.
        QCOMPARE(dates(search(2, at("2026-03-01 00:00"), at("2026-03-03 00:00"))),
                 (QStringList{"2026-03-01T00:00:00", "2026-03-02T10:00:00"}));
        // The same instant twice means that whole day, not a range from it.
        QCOMPARE(dates(search(0, at("2026-03-02 10:00"), at("2026-03-02 10:00"))), stored.mid(3, 3));
        QCOMPARE(dates(search(3, at("2026-03-02 10:00"), at("2026-03-02 10:00"))), QStringList{"2026-03-02T23:59:59"});
        // From after to: everything, the kind ignored.
        QCOMPARE(dates(search(2, at("2026-03-05 00:00"), at("2026-03-01 00:00"))), stored);
    }

    // Queued to this thread, as a page takes them: the record crosses threads whole.
    void foundRecordsArriveWhole()
    {
        startLog();
        const _st_log_item sent("2026-03-01T08:00:00", "op", "device alarm", "gate", "10.0.0.9",
                                "it's '; drop table systemlogs;--", 2);
        QVERIFY(m_log->addLog(sent));
        QList<_st_log_item> found;
        const QMetaObject::Connection c = connect(
            m_log.get(), &qcLogHelper::sigHaslogitem, this, [&](_st_log_item item) { found << item; },
            Qt::QueuedConnection);
        QVERIFY(m_log->requestQuery(0, at("2026-03-01 00:00"), at("2026-03-01 00:00")));
        QTRY_COMPARE(found.size(), 1);
        disconnect(c);
        const auto fields = [](const _st_log_item &i) {
            return QStringList{
                i.logdate, i.curuser, i.logdecl, i.reldevname, i.reldevaddr, i.lognote, QString::number(i.logtype)};
        };
        QCOMPARE(fields(found.at(0)), fields(sent));
        m_log->stop();
        QCOMPARE(sql("select lognote from systemlogs"), sent.lognote);
    }

    void queryRequestsAreRefusedWhilePending()
    {
        m_log.reset(new qcLogHelper); // not started: the first request stays pending
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(!m_log->requestQuery(4, now, now));
        QVERIFY(!m_log->requestQuery(-1, now, now));
        QVERIFY(m_log->requestQuery(0, now, now));
        QVERIFY(!m_log->requestQuery(1, now, now));
    }

    void concurrentWritersKeepTheirOrder()
    {
        startLog();
        const int threads = 4, perThread = 250;
        QList<QThread *> writers;
        std::atomic<int> refused{0};
        for (int t = 0; t < threads; ++t) {
            writers << QThread::create([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    if (!m_log->addLog(record("2026-03-01T00:00:00", 1, QStringLiteral("%1-%2").arg(t).arg(i))))
                        ++refused;
                }
            });
        }
        for (QThread *w : writers)
            w->start();
        for (QThread *w : writers) {
            QVERIFY(w->wait(30000));
            delete w;
        }
        // The stop writes whatever is still queued.
        m_log->stop();
        QVERIFY(m_log->isFinished());
        QCOMPARE(refused.load(), 0);
        const QStringList notes = sql("select lognote from systemlogs order by rowid").split('\n');
        QCOMPARE(notes.size(), threads * perThread);
        QVector<int> next(threads, 0);
        for (const QString &note : notes) {
            const int t = note.section('-', 0, 0).toInt();
            QCOMPARE(note.section('-', 1).toInt(), next[t]);
            ++next[t];
        }
    }

    void recordsBeforeTheOpenAreWritten()
    {
        m_log.reset(new qcLogHelper);
        QVERIFY(!m_log->isOpened());
        QVERIFY(m_log->addLog(record("2026-03-01T00:00:01", 1, "auto login")));
        QVERIFY(m_log->addLog(record("2026-03-01T00:00:02", 1, "second")));
        m_log->start(QThread::LowPriority);
        // Written without any further wake-up: the thread must not sleep on them.
        QTRY_COMPARE(sql("select lognote from systemlogs order by rowid"), QString("auto login\nsecond"));
        m_log->stop();
        QVERIFY(!m_log->addLog(record("2026-03-01T00:00:03", 1))); // ended: would never be written
    }

    void unusableFileIsNamedAndDropsRecords_data()
    {
        QTest::addColumn<bool>("removed");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing file") << true << "missing";
        QTest::newRow("missing table") << false << "systemlogs";
    }

    void unusableFileIsNamedAndDropsRecords()
    {
        QFETCH(bool, removed);
        QFETCH(QString, why);
        QString reason = "stale";
        QVERIFY(qcLogHelper::checkDatabaseFile(&reason));
        QVERIFY(reason.isEmpty());
        QVERIFY(removed ? QFile::remove(kLog) : RunFolder::exec(kLog, "drop table systemlogs"));
        QVERIFY(!qcLogHelper::checkDatabaseFile(&reason));
        QVERIFY(reason.contains(kLog) && reason.contains(why));
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList());

        m_log.reset(new qcLogHelper);
        QVERIFY(m_log->addLog(record("2026-03-01T00:00:01", 1))); // the open is still to come
        m_log->start();
        QVERIFY(m_log->wait(10000));
        QVERIFY(!m_log->isOpened());
        QVERIFY(m_log->openError().contains(why));
        QVERIFY(!m_log->addLog(record("2026-03-01T00:00:02", 1)));
        QCOMPARE(QFile::exists(kLog), !removed); // nothing created
    }

    // Another program holding the log file: the records handed in meanwhile
    // wait and are written, in order, once it lets go; a search meanwhile
    // says that it could not read. Beyond the most that may wait, new
    // records are dropped, and how many is written once, after the rest.
    void heldFileKeepsRecords_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("handed");
        QTest::addColumn<QString>("written"); // after "before"
        QTest::newRow("all wait") << qcLogHelper::kMaxWaiting << 3 << "held 0\nheld 1\nheld 2";
        QTest::newRow("two may wait") << 2 << 5 << "held 0\nheld 1\n3 records could not be written to the log file";
    }
    void heldFileKeepsRecords()
    {
        QFETCH(int, limit);
        QFETCH(int, handed);
        QFETCH(QString, written);
        startLog();
        m_log->setWaitingLimit(limit);
        QVERIFY(m_log->addLog(record("2026-03-01T00:00:00", 1, "before")));
        QTRY_COMPARE(sql("select lognote from systemlogs"), QString("before"));
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold(kLog));
        int taken = 0;
        for (int i = 0; i < handed; ++i)
            taken += m_log->addLog(record("2026-03-01T00:00:01", 1, QString("held %1").arg(i)));
        QCOMPARE(taken, qMin(limit, handed));
        // Asked after the records: once it has ended, the log has tried them.
        QVERIFY(QTest::qWaitFor([&] { return m_log->requestQuery(0, at("2026-03-01 00:00"), at("2026-03-02 00:00")); },
                                20000));
        QTRY_VERIFY_WITH_TIMEOUT(!m_log->isQueryPending(), 20000);
        QVERIFY(m_log->lastQueryFailed());
        holder.reset();
        const QString since = "select lognote from systemlogs where rowid > 1 order by rowid";
        QTRY_COMPARE_WITH_TIMEOUT(sql(since), written, 20000);
        // Told once: what follows is written as it comes.
        QVERIFY(m_log->addLog(record("2026-03-01T00:00:02", 1, "after")));
        QTRY_COMPARE(sql(since), written + "\nafter");
        // Every record, the note of the dropped ones too (stamped now).
        QCOMPARE(search(0, at("2030-01-01 00:00"), at("2020-01-01 00:00")).size(),
                 written.count(QLatin1Char('\n')) + 3);
        QVERIFY(!m_log->lastQueryFailed());
    }

    // A disk with room for part of the backlog takes that part, oldest
    // first, and the rest once there is room; beyond the most that may wait,
    // how many were dropped is told after all of them.
    void fullDiskTakesWhatFits_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("told");
        QTest::newRow("room for part of the backlog") << qcLogHelper::kMaxWaiting << "";
        QTest::newRow("more than may wait") << 2000 << "1000 records could not be written to the log file";
    }
    void fullDiskTakesWhatFits()
    {
        QFETCH(int, limit);
        QFETCH(QString, told);
        const int backlog = 3000;
        testsupport::SecondDisk disk(m_folder->filePath("disk"), "1m");
        if (!disk.mounted())
            QSKIP("needs root and a mount namespace of its own (tests/support/ownmounts.sh)");
        QVERIFY(QFile::copy(kLog, "disk/" + kLog) && QDir::setCurrent("disk"));
        QFile filler("filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        // Room for about a third of the backlog.
        QVERIFY(filler.resize(filler.size() - 64 * 1024));
        m_log.reset(new qcLogHelper);
        m_log->setWaitingLimit(limit);
        int taken = 0;
        for (int i = 0; i < backlog; ++i)
            taken += m_log->addLog(record("2026-03-01T00:00:01", 1, QString::number(i)));
        QCOMPARE(taken, qMin(limit, backlog));
        m_log->start();
        // Written in order from the oldest: the count, then how many rows
        // stand out of their place.
        const QString inOrder = "select count(*) || ' ' || ifnull(sum(lognote + 0 <> rowid - 1), 0) "
                                "from systemlogs where logdecl = 'test'";
        // Each look runs a program: waited for by the clock, not by a count
        // of looks; a look while the log writes finds the file busy and
        // gives nothing.
        QString seen;
        QVERIFY(QTest::qWaitFor(
            [&] {
                seen = sql(inOrder);
                return seen.section(' ', 0, 0).toInt() > 0;
            },
            30000));
        QCOMPARE(seen.section(' ', 1), QString("0"));
        filler.close();
        QVERIFY(filler.remove());
        QVERIFY(QTest::qWaitFor([&] { return sql(inOrder) == QString("%1 0").arg(taken); }, 30000));
        m_log->stop();
        const QString notes = "select lognote from systemlogs where logdecl <> 'test' order by rowid";
        QCOMPARE(sql(notes), told);
        QCOMPARE(sql("select max(rowid) from systemlogs"), QString::number(taken + (told.isEmpty() ? 0 : 1)));
        QVERIFY(QDir::setCurrent(m_folder->path()));
    }

    void stopCutsALongSearchShort()
    {
        QVERIFY(fillRows(50000));
        startLog();
        std::atomic<int> delivered{0};
        // A slow receiver on the log thread: delivering everything would take
        // far longer than the stop may.
        connect(
            m_log.get(), &qcLogHelper::sigHaslogitem, this,
            [&](_st_log_item) {
                ++delivered;
                QThread::msleep(1);
            },
            Qt::DirectConnection);
        QVERIFY(m_log->requestQuery(0, at("2030-01-01 00:00"), at("2020-01-01 00:00")));
        QTRY_VERIFY(delivered > 10);
        m_log->stop();
        QVERIFY(m_log->isFinished());
        QVERIFY(delivered < 50000);
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
