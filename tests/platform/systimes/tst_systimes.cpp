#include <QtTest>

#include "platform/systimes.h"

class TestSysTimes : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<quint64>("idle");
        QTest::addColumn<quint64>("kernel");
        QTest::addColumn<quint64>("user");
        //                                   user nice system idle iowait irq softirq steal guest guest_nice
        QTest::newRow("all columns") << QByteArray("cpu  100 20 30 4000 50 6 7 8 900 90\n") << true << quint64(4050)
                                     << quint64(30 + 6 + 7 + 8 + 4050) << quint64(120);
        QTest::newRow("no guest") << QByteArray("cpu  100 20 30 4000 50 6 7 8\n") << true << quint64(4050)
                                  << quint64(4101) << quint64(120);
        QTest::newRow("no steal") << QByteArray("cpu 100 20 30 4000 50 6 7") << true << quint64(4050) << quint64(4093)
                                  << quint64(120);
        QTest::newRow("four columns") << QByteArray("cpu 1 2 3 4") << true << quint64(4) << quint64(7) << quint64(3);
        QTest::newRow("large values") << QByteArray("cpu 18446744073709551615 0 0 0") << true << quint64(0)
                                      << quint64(0) << quint64(18446744073709551615ull);
        QTest::newRow("three columns") << QByteArray("cpu 1 2 3\n") << false << quint64(0) << quint64(0) << quint64(0);
        QTest::newRow("per-processor line")
            << QByteArray("cpu0 1 2 3 4") << false << quint64(0) << quint64(0) << quint64(0);
        QTest::newRow("other line") << QByteArray("intr 1 2 3 4") << false << quint64(0) << quint64(0) << quint64(0);
        QTest::newRow("junk") << QByteArray("cpu 1 2 x 4") << false << quint64(0) << quint64(0) << quint64(0);
        QTest::newRow("negative") << QByteArray("cpu 1 -2 3 4") << false << quint64(0) << quint64(0) << quint64(0);
        QTest::newRow("overflow") << QByteArray("cpu 18446744073709551616 0 0 0") << false << quint64(0) << quint64(0)
                                  << quint64(0);
        QTest::newRow("empty") << QByteArray("") << false << quint64(0) << quint64(0) << quint64(0);
    }

    void parse()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, ok);
        quint64 idle = 0, kernel = 0, user = 0;
        QCOMPARE(platform::parseSystemTimes(line.constData(), idle, kernel, user), ok);
        if (ok) {
            QTEST(idle, "idle");
            QTEST(kernel, "kernel");
            QTEST(user, "user");
        }
    }
};

QTEST_APPLESS_MAIN(TestSysTimes)
#include "tst_systimes.moc"
