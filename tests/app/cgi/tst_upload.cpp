#include <QtTest>

#include <QRandomGenerator>
#include <QTemporaryDir>

#include "cgitest.h"

using devicesim::Fault;

class TestCgiUpload : public DeviceTest
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_file;
    QByteArray m_bytes;

    QString uploadUrl() const { return url(QStringLiteral("/action/upload?file=logo")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_bytes.resize(4 * 1024 * 1024);
        QRandomGenerator gen(7);
        for (char &c : m_bytes)
            c = char(gen.generate());
        m_file = m_dir.filePath(QStringLiteral("logo.bin"));
        QFile f(m_file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(m_bytes);
    }

    void fileArrivesAsOnePartWithTheHeaders()
    {
        CGIUtil util(21);
        Recorder rec(&util);
        QVERIFY(util.setUploadRequest(uploadUrl(), "admin", "1234", m_file));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0"})); // no data signal for uploads
        QVERIFY(!rec.wrongId);

        devicesim::FormPart part;
        QVERIFY(m_dev->upload(QStringLiteral("sendfile"), &part));
        QCOMPARE(part.fileName, QStringLiteral("logo.bin"));
        QVERIFY(part.data == m_bytes);

        // The empty Expect removes libcurl's own; the other four in order.
        QList<QByteArray> names;
        const auto req = m_dev->requests().value(0);
        for (const auto &h : req.headers)
            names << h.first.toLower();
        QVERIFY(!names.contains("expect"));
        const QList<QByteArray> wanted = {"user-agent", "connection", "cache-control", "accept-encoding"};
        QList<QByteArray> ours;
        for (const QByteArray &n : names)
            if (wanted.contains(n))
                ours << n;
        QCOMPARE(ours, wanted);
        QCOMPARE(req.header("User-Agent"), QByteArray("curl/7.51.0"));
        QCOMPARE(req.header("Connection"), QByteArray("Keep-Alive"));
        QCOMPARE(req.header("Cache-Control"), QByteArray("no-cache"));
        QCOMPARE(req.header("Accept-Encoding"), QByteArray("gzip,deflate"));
        QVERIFY(req.header("Content-Type").startsWith("multipart/form-data; boundary="));

        QVERIFY(!rec.percents.isEmpty());
        for (int i = 1; i < rec.percents.size(); ++i)
            QVERIFY(rec.percents[i] > rec.percents[i - 1]);
        QCOMPARE(rec.percents.last(), 100);
    }

    void failuresGiveTheirCode_data()
    {
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<QString>("event");
        QTest::newRow("final status 415") << false << "h:8";
        QTest::newRow("missing file") << true << "h:255";
    }

    void failuresGiveTheirCode()
    {
        QFETCH(bool, missingFile);
        QFETCH(QString, event);
        if (!missingFile)
            m_dev->addFault(QStringLiteral("/action/upload"), Fault::status(415, "<response/>"));
        CGIUtil util(22);
        Recorder rec(&util);
        QVERIFY(
            util.setUploadRequest(uploadUrl(), "admin", "1234", missingFile ? m_dir.filePath("absent.bin") : m_file));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList{event});
    }

    void silentDeviceEndsByLowSpeedTime()
    {
        CGIUtil::setLowSpeedTime(2);
        m_dev->addFault(QStringLiteral("/action/upload"), Fault::silent());
        CGIUtil util(24);
        Recorder rec(&util);
        QVERIFY(util.setUploadRequest(uploadUrl(), "admin", "1234", m_file));
        QVERIFY(runToEnd(util, 20000));
        QCOMPARE(rec.events, QStringList({"h:13"}));
        QVERIFY(m_dev->waitFor([](const QList<devicesim::LoggedRequest> &l) { return !l.isEmpty() && l[0].peerClosed; },
                               2000));
    }
};

QTEST_GUILESS_MAIN(TestCgiUpload)
#include "tst_upload.moc"
