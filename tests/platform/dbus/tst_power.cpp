#include "fakebus.h"
#include "platform/desktop/powerinhibitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <unistd.h>

class TestPower : public QObject
{
    Q_OBJECT
private slots:
    void withoutServicesNothingHappens()
    {
        platform::PowerInhibitor inhibitor;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!inhibitor.acquire("watching"));
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!inhibitor.isHeld());
        inhibitor.release();
    }

    void acquireAndRelease()
    {
        FakeBus bus;
        QVERIFY(bus.up());
        {
            platform::PowerInhibitor inhibitor;
            QVERIFY(inhibitor.acquire("watching cameras"));
            QVERIFY(inhibitor.acquire("again")); // held already: no second inhibition
            QCOMPARE(fakeLog().take("ScreenSaver.Inhibit"), (QList<QStringList>{{"ARDO Client", "watching cameras"}}));
            QCOMPARE(fakeLog().take("login1.Inhibit"),
                     (QList<QStringList>{{"sleep:idle", "ARDO Client", "watching cameras", "block"}}));

            int fd;
            {
                QMutexLocker lock(&fakeLog().mutex);
                fd = fakeLog().inhibitReadFd;
            }
            QVERIFY(fd >= 0);
            char c;
            QCOMPARE(int(read(fd, &c, 1)), -1); // still held open by the inhibitor
            QCOMPARE(errno, EAGAIN);

            inhibitor.release();
            QCOMPARE(fakeLog().take("ScreenSaver.UnInhibit"), (QList<QStringList>{{"77"}}));
            QCOMPARE(int(read(fd, &c, 1)), 0); // end of file: suspend allowed again
            ::close(fd);

            inhibitor.release();
            QVERIFY(!inhibitor.isHeld());
        }
        // Neither the second release nor the destructor had anything left to release.
        QCOMPARE(fakeLog().take("ScreenSaver.UnInhibit").size(), 0);
    }
};

FAKEBUS_TEST_MAIN(TestPower, QCoreApplication)
#include "tst_power.moc"
