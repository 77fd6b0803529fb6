#include <QtTest>

#include <thread>

#include "platform/stoptoken.h"

class TestStopToken : public QObject
{
    Q_OBJECT
private slots:
    void sleepRunsFullTimeWithoutStop()
    {
        platform::StopToken token;
        QElapsedTimer t;
        t.start();
        QVERIFY(token.sleepFor(50));
        QVERIFY(t.elapsed() >= 45);
    }

    void stopWakesSleeperEarly()
    {
        platform::StopToken token;
        QElapsedTimer t;
        t.start();
        bool slept = true;
        std::thread worker([&] { slept = token.sleepFor(10000); });
        QTest::qWait(30);
        token.requestStop();
        worker.join();
        QVERIFY(!slept);
        QVERIFY(t.elapsed() < 5000);
        // Once stopped, further sleeps return at once.
        QVERIFY(!token.sleepFor(10000));
        token.reset();
        QVERIFY(!token.stopRequested());
    }
};

QTEST_GUILESS_MAIN(TestStopToken)
#include "tst_stoptoken.moc"
