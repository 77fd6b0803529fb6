#include <QtTest>

#include <QRandomGenerator>
#include <QTemporaryDir>

#include "cgitest.h"
#include "tests/support/loopback.h"

using devicesim::Fault;

class TestCgiAbort : public DeviceTest
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_file;

    // Aborts the running request; true when the thread ended within 200 ms
    // and no signal came after the abort.
    bool abortPromptly(CGIUtil &util, Recorder &rec)
    {
        if (!util.isRunning())
            return false;
        const int before = rec.emitted;
        QElapsedTimer t;
        t.start();
        util.abort();
        const bool ended = util.wait(2000);
        const qint64 took = t.elapsed();
        QCoreApplication::sendPostedEvents();
        if (!ended || took > 200) {
            qWarning("abort took %lld ms", took);
            return false;
        }
        return rec.emitted == before;
    }

    bool deviceSawClose()
    {
        return m_dev->waitFor(
            [](const QList<devicesim::LoggedRequest> &l) { return !l.isEmpty() && l.last().peerClosed; }, 2000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("fw.bin"));
        QFile f(m_file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(256 * 1024, 'f'));
    }

    void silentDevice_data()
    {
        QTest::addColumn<bool>("post");
        QTest::newRow("get") << false;
        QTest::newRow("post") << true;
    }

    void silentDevice()
    {
        QFETCH(bool, post);
        m_dev->addFault(QStringLiteral("*"), Fault::silent());
        CGIUtil util(1);
        Recorder rec(&util);
        if (post)
            QVERIFY(util.setPostRequest(url("/action/set?subject=sample"), "admin", "1234", "<request/>", nullptr,
                                        nullptr, 30, 30));
        else
            QVERIFY(util.setGetRequest(url("/action/get?subject=sample"), "admin", "1234", nullptr, nullptr, 30));
        util.start();
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QVERIFY(abortPromptly(util, rec));
        QVERIFY(rec.events.isEmpty());
        QVERIFY(deviceSawClose());
    }

    void trickledUpload()
    {
        m_dev->addFault(QStringLiteral("/action/upload"), Fault::trickle(1, 100));
        CGIUtil util(3);
        Recorder rec(&util);
        QVERIFY(util.setUploadRequest(url("/action/upload?file=fw"), "admin", "1234", m_file));
        util.start();
        QVERIFY(m_dev->waitFor([](const QList<devicesim::LoggedRequest> &l) { return !l.isEmpty() && l[0].answered; },
                               5000));
        QTest::qWait(250); // a few bytes of the answer have trickled in
        QVERIFY(abortPromptly(util, rec));
        QCOMPARE(rec.events, QStringList({"h:0"})); // the status line came before the abort
        QVERIFY(deviceSawClose());
    }

    void connectThatNeverCompletes()
    {
        // A listener that never accepts, its queue full: the connect never completes.
        testsupport::LoopbackListener listener(0);
        listener.fillBacklog(4);
        CGIUtil util(4);
        Recorder rec(&util);
        QVERIFY(util.setGetRequest(QStringLiteral("http://127.0.0.1:%1/action/get?subject=sample").arg(listener.port()),
                                   "admin", "1234", nullptr, nullptr, 30));
        util.start();
        QTest::qWait(300);
        QVERIFY(util.isRunning());
        QVERIFY(abortPromptly(util, rec));
        QVERIFY(rec.events.isEmpty());
    }

    void abortBeforeStartSendsNothing()
    {
        CGIUtil util(5);
        Recorder rec(&util);
        QVERIFY(util.setGetRequest(url("/action/get?subject=sample"), "admin", "1234", nullptr, nullptr, 2));
        util.abort();
        QVERIFY(runToEnd(util, 2000));
        QVERIFY(rec.events.isEmpty());
        QVERIFY(m_dev->requests().isEmpty());
    }

    void abortsAtRandomMoments()
    {
        m_dev->addFault(QStringLiteral("get:sample"), Fault::trickle(512, 3));
        m_dev->addFault(QStringLiteral("set:sample"), Fault::silent());
        m_dev->addFault(QStringLiteral("get:big"), Fault::largeBody(2 * 1024 * 1024));
        m_dev->addFault(QStringLiteral("/action/upload"), Fault::delay(100));
        QRandomGenerator gen(20);
        int dummy = 0;
        for (int i = 0; i < 20; ++i) {
            auto util = std::make_unique<CGIUtil>(100 + i);
            Recorder rec(util.get());
            const auto cb = [](int, const char *, int, void *) {};
            switch (i % 4) {
            case 0:
                QVERIFY(util->setGetRequest(url("/action/get?subject=sample"), "admin", "1234", cb, &dummy, 5));
                break;
            case 1:
                QVERIFY(util->setPostRequest(url("/action/set?subject=sample"), "admin", "1234",
                                             "<request><a>1</a></request>", cb, &dummy, 5, 5));
                break;
            case 2:
                QVERIFY(util->setGetRequest(url("/action/get?subject=big"), "admin", "1234", cb, &dummy, 5));
                break;
            default:
                QVERIFY(util->setUploadRequest(url("/action/upload?file=fw"), "admin", "1234", m_file));
                break;
            }
            util->start();
            QThread::msleep(gen.bounded(60));
            if (i % 2) {
                // An owner that lets go of a running request: the destructor
                // aborts and joins.
                util.reset();
                continue;
            }
            util->abort();
            QElapsedTimer t;
            t.start();
            QVERIFY(util->wait(2000));
            QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        }
    }
};

QTEST_GUILESS_MAIN(TestCgiAbort)
#include "tst_abort.moc"
