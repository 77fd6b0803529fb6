#include <QtTest>

#include "app/core/isysinforwin.h"

#include <atomic>

Q_DECLARE_METATYPE(ISysinforWin::Times)

namespace {

using Times = ISysinforWin::Times;

Times at(quint64 idle, quint64 kernel, quint64 user)
{
    Times t;
    t.idle = idle;
    t.kernel = kernel;
    t.user = user;
    return t;
}

} // namespace

class TestSampler : public QObject
{
    Q_OBJECT
private slots:
    void load_data()
    {
        QTest::addColumn<Times>("first");
        QTest::addColumn<Times>("second");
        QTest::addColumn<int>("load");
        // kernel includes idle: busy = kernel + user - idle.
        QTest::newRow("busy 1 of 1000") << at(0, 0, 0) << at(999, 999, 1) << 1;
        QTest::newRow("all busy") << at(10, 500, 500) << at(10, 900, 600) << 100;
        QTest::newRow("all idle") << at(0, 0, 0) << at(500, 500, 0) << 0;
        QTest::newRow("half") << at(0, 0, 0) << at(250, 300, 200) << 50;
        QTest::newRow("rounds up") << at(0, 0, 0) << at(2, 3, 0) << 34;
        QTest::newRow("zero sum") << at(7, 70, 700) << at(7, 70, 700) << 0;
        QTest::newRow("idle beyond total") << at(0, 0, 0) << at(900, 100, 100) << 0;
        QTest::newRow("counters backwards") << at(1000, 2000, 2000) << at(1000, 1500, 1500) << 0;
        QTest::newRow("past 32 bits") << at(0xfffffff0ull, 0xfffffff0ull, 0)
                                      << at(0x100000000ull + 400, 0x100000000ull + 500, 500) << 60;
    }

    void load()
    {
        QFETCH(Times, first);
        QFETCH(Times, second);
        QTEST(ISysinforWin::loadBetween(first, second), "load");
    }

    void stopIsPrompt_data()
    {
        QTest::addColumn<bool>("inPause");
        QTest::newRow("during the pause") << true;
        QTest::newRow("during the measurement") << false;
    }

    void stopIsPrompt()
    {
        QFETCH(bool, inPause);
        // All idle at first, then busy.
        std::atomic<int> calls{0};
        ISysinforWin sampler([&calls](quint64 &idle, quint64 &kernel, quint64 &user) {
            idle = 0;
            kernel = user = calls++ ? 10 : 0;
            return true;
        });
        QSignalSpy spy(&sampler, &ISysinforWin::sigCpuRate);
        sampler.start();
        if (inPause)
            QVERIFY(spy.wait(3000)); // now in the 1000 ms pause
        QTest::qWait(100);
        QElapsedTimer t;
        t.start();
        sampler.stop();
        QVERIFY(sampler.wait(1000));
        QVERIFY2(t.elapsed() < 400, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(spy.size(), inPause ? 1 : 0); // nothing half-measured is reported
    }

    void failedReadingSkipsTheValue()
    {
        std::atomic<int> calls{0};
        ISysinforWin sampler([&calls](quint64 &, quint64 &, quint64 &) {
            ++calls;
            return false;
        });
        QSignalSpy spy(&sampler, &ISysinforWin::sigCpuRate);
        sampler.start();
        QTest::qWait(700);
        sampler.stop();
        QVERIFY(sampler.wait(1000));
        QVERIFY(calls.load() >= 1);
        QCOMPARE(spy.size(), 0);
    }

    void realMachineValueInRange()
    {
        ISysinforWin sampler;
        QSignalSpy spy(&sampler, &ISysinforWin::sigCpuRate);
        sampler.start();
        QVERIFY(spy.wait(3000));
        const int load = spy.at(0).at(0).toInt();
        QVERIFY(load >= 0 && load <= 100);
        // The destructor stops and waits.
    }
};

QTEST_GUILESS_MAIN(TestSampler)
#include "tst_sampler.moc"
