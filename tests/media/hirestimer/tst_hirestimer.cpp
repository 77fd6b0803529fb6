#include <QtTest>

#include <thread>

#include "media/qchighrestimer.h"

namespace {
// A hand-moved 10 MHz counter.
struct FakeCounter
{
    int64_t now = 5000000;
    int frequencyReads = 0;
    qcHighResTimer::Counter counter()
    {
        return {[this] {
                    ++frequencyReads;
                    return int64_t(10000000);
                },
                [this] { return now; }};
    }
};
} // namespace

class TestHighResTimer : public QObject
{
    Q_OBJECT
private slots:
    void fakeTenMegahertzCounter()
    {
        FakeCounter fake;
        qcHighResTimer timer(fake.counter());
        fake.now += 25000;
        // Nothing measured before the start.
        QCOMPARE(timer.elapsed(), 0.0);
        QCOMPARE(timer.lap(), 0.0);
        QCOMPARE(timer.lastResult(), 0.0);
        timer.start();
        QCOMPARE(fake.frequencyReads, 1);
        fake.now += 25000;
        QCOMPARE(timer.lap(), 2.5); // lap right after start measures from the start
        fake.now += 10000;
        QCOMPARE(timer.elapsed(), 3.5);
        QCOMPARE(timer.elapsed(), 3.5); // elapsed does not move the lap...
        fake.now += 5000;
        QCOMPARE(timer.lap(), 1.5);
        QCOMPARE(timer.elapsed(), 4.0); // ...and lap does not move the start
        QCOMPARE(timer.lastResult(), 4.0);
        fake.now += 1;
        QCOMPARE(timer.lap(), 0.0001);
        timer.start(); // a restart measures afresh
        fake.now += 20000;
        QCOMPARE(timer.elapsed(), 2.0);
    }

    void monotonicClockMeasuresRealTime()
    {
        qcHighResTimer timer;
        timer.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double ms = timer.elapsed();
        QVERIFY2(ms >= 19.0, qPrintable(QString::number(ms)));
        QVERIFY(timer.lap() >= ms);
    }
};

QTEST_GUILESS_MAIN(TestHighResTimer)
#include "tst_hirestimer.moc"
