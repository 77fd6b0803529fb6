#include <QtTest>

#include "app/core/records.h"

// Emits one log record from whatever thread calls send().
class LogEmitter : public QObject
{
    Q_OBJECT
public:
    void send(const _st_log_item &item) { emit sigItem(item); }
signals:
    void sigItem(_st_log_item item);
};

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void recordsDifferingInOneFieldAreUnequal()
    {
        _st_device_item a;
        a.address = "10.0.0.1";
        a.indexid = 4;
        _st_device_item b = a;
        QVERIFY(a == b);
        b.indexid = 5;
        QVERIFY(a != b);
        _st_user_item u;
        u.username = "op";
        _st_user_item v = u;
        v.usertype = 4;
        QVERIFY(u != v);
    }

    void logItemCrossesThreadsWhole()
    {
        registerLogItemMetaType();
        LogEmitter emitter;
        QList<_st_log_item> received;
        QThread *receiverThread = QThread::currentThread();
        bool onMainThread = false;
        connect(
            &emitter, &LogEmitter::sigItem, this,
            [&](_st_log_item item) {
                onMainThread = QThread::currentThread() == receiverThread;
                received.append(item);
            },
            Qt::QueuedConnection);

        const _st_log_item sent("2026-03-02T08:00:00", "admin", "device alarm", "gate", "10.0.0.9", "motion 'left'", 2);
        QThread *worker = QThread::create([&] { emitter.send(sent); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_COMPARE(received.size(), 1);
        QVERIFY(onMainThread);
        const auto fields = [](const _st_log_item &i) {
            return QStringList{
                i.logdate, i.curuser, i.logdecl, i.reldevname, i.reldevaddr, i.lognote, QString::number(i.logtype)};
        };
        QCOMPARE(fields(received.first()), fields(sent));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
