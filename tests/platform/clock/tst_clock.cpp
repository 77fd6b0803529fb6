#include <QtTest>

#include "platform/clock.h"

// A consumer in the shape the program uses the seams: stamps a line with the
// installed clock and waits through the installed sleeper between tries.
static QString stampAfterRetries(int tries, int waitMs)
{
    for (int i = 0; i < tries; ++i)
        platform::sleeper().sleep(waitMs);
    return platform::localNow().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
}

class TestClock : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        platform::setClock(nullptr);
        platform::setSleeper(nullptr);
    }

    void fakeClockDrivesConsumer()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 3, 7), QTime(14, 5, 9, 123)));
        platform::FakeSleeper sleeper(&clock);
        platform::setClock(&clock);
        platform::setSleeper(&sleeper);

        QElapsedTimer wall;
        wall.start();
        QCOMPARE(stampAfterRetries(3, 20000), QStringLiteral("2024-03-07T14:06:09"));
        QVERIFY(wall.elapsed() < 1000); // no real sleeping
        QCOMPARE(sleeper.calls(), 3);
        QCOMPARE(sleeper.total(), qint64(60000));
        QCOMPARE(platform::msecsOfDay(), ((14 * 60 + 6) * 60 + 9) * 1000 + 123);
    }

    void systemSeamsAreBackAfterReset()
    {
        platform::FakeClock clock(QDateTime(QDate(2001, 1, 1), QTime(1, 0)));
        platform::setClock(&clock);
        QCOMPARE(platform::localNow().date().year(), 2001);
        platform::setClock(nullptr);
        const qint64 skew = qAbs(platform::localNow().msecsTo(QDateTime::currentDateTime()));
        QVERIFY2(skew < 1000, qPrintable(QString::number(skew)));

        QElapsedTimer t;
        t.start();
        platform::sleeper().sleep(30);
        QVERIFY(t.elapsed() >= 28);
    }

    void systemTimeOfDayIsLocal()
    {
        // The suite runs in a zone 5:45 ahead of UTC (see CMakeLists.txt),
        // so an offset applied wrongly, or only in whole hours, shows here.
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), 5 * 3600 + 45 * 60);
        platform::SystemClock clock;
        for (int i = 0; i < 3; ++i) {
            const int before = QTime::currentTime().msecsSinceStartOfDay();
            const int ours = clock.msecsOfDay();
            const int again = clock.msecsOfDay();
            const int after = QTime::currentTime().msecsSinceStartOfDay();
            if (after < before)
                continue; // local midnight passed meanwhile
            QVERIFY2(ours >= before && again >= ours && again <= after,
                     qPrintable(QString("%1 %2 %3 %4").arg(before).arg(ours).arg(again).arg(after)));
            return;
        }
        QFAIL("midnight every time");
    }

    void timeOfDaySource()
    {
        int64_t ms = 86399990;
        platform::setLocalMsecsOfDaySource([&] { return ms; });
        QCOMPARE(platform::localMsecsOfDay(), int64_t(86399990));
        ms = 5;
        QCOMPARE(platform::msecsOfDay(), 5);
        QCOMPARE(platform::localNow().time(), QTime(0, 0, 0, 5));
        platform::setLocalMsecsOfDaySource({});
        const int64_t diff = qAbs(platform::localMsecsOfDay() - QTime::currentTime().msecsSinceStartOfDay());
        QVERIFY(diff < 1000 || diff > 86399000);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
