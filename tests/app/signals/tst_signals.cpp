#include "app/core/server.h"
#include "media/recordnames.h"
#include "tests/support/runfolder.h"
#include "tests/support/schedulerow.h"
#include "livedevices.h"
#include "zmfdump.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/types.h>

namespace {

const QString kAddress = QStringLiteral("127.0.0.36");

// Bounds for the sanitizer-built client on a loaded machine (see app.process).
constexpr int kStartMs = 120000;
constexpr int kRecordingMs = 300000;
// A session's shutdown waits a few seconds before it kills.
constexpr int kCloseMs = 10000;

QStringList recordFiles(const QString &folder, bool (*matches)(const QString &))
{
    QStringList out;
    for (const QString &f : QDir(folder).entryList({"*.zmf"}, QDir::Files, QDir::Name))
        if (matches(f))
            out << f;
    return out;
}

// Started as nohup starts it: the terminal's hang-up is not meant for it.
class HangUpIgnoringProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::signal(SIGHUP, SIG_IGN); }
};

} // namespace

// A session's log-out or shutdown, Ctrl+C and a lost terminal close the
// client as its window's close button does.
class TestSignals : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::RunFolder> m_folder;
    std::unique_ptr<QProcess> m_client;
    QByteArray m_stderr;
    QString m_instanceKey;

    QString database() const { return m_folder->filePath("quendalix.xdt"); }

    bool startClient(bool hangUpIgnored = false)
    {
        m_client = hangUpIgnored ? std::make_unique<HangUpIgnoringProcess>() : std::make_unique<QProcess>();
        m_stderr.clear();
        m_client->setWorkingDirectory(m_folder->path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ARDO_INSTANCE_KEY", m_instanceKey);
        m_client->setProcessEnvironment(env);
        m_client->start(QStringLiteral(CLIENT_PATH), QStringList());
        if (!m_client->waitForStarted())
            return false;
        // The handlers are in before the instance name is taken.
        return QTest::qWaitFor(
                   [&] { return Server::isServerRunning(m_instanceKey) || m_client->state() == QProcess::NotRunning; },
                   kStartMs) &&
               m_client->state() == QProcess::Running;
    }

    QByteArray stderrText()
    {
        m_stderr += m_client->readAllStandardError();
        return m_stderr;
    }

    // A hang-up the client was started to ignore, then the session's end.
    void hangUpThenTerminate()
    {
        const pid_t pid = pid_t(m_client->processId());
        QCOMPARE(::kill(pid, SIGHUP), 0);
        QCOMPARE(::kill(pid, SIGTERM), 0);
    }

    // The close was the SIGTERM's: the hang-up never reached the loop.
    void checkHangUpIgnored()
    {
        const QByteArray err = stderrText();
        QVERIFY2(err.contains(QByteArray("signal ") + QByteArray::number(SIGTERM) + " received"), err.constData());
        QVERIFY2(!err.contains(QByteArray("signal ") + QByteArray::number(SIGHUP) + " received"), err.constData());
    }

    void checkEndedCleanly()
    {
        QVERIFY2(m_client->state() == QProcess::NotRunning || m_client->waitForFinished(kCloseMs),
                 "the client did not end");
        const QByteArray err = stderrText();
        QVERIFY2(m_client->exitStatus() == QProcess::NormalExit, err.right(3000).constData());
        QCOMPARE(m_client->exitCode(), 0);
        QVERIFY2(!err.contains("Sanitizer") && !err.contains("runtime error"), err.constData());
        QVERIFY(!QFile::exists(m_folder->filePath("Korvista.dmp")));
    }

    QStringList logRows() const
    {
        return testsupport::RunFolder::query(m_folder->filePath("cmsclient.logx"),
                                             "select logdecl from systemlogs order by rowid")
            .split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        m_instanceKey = QStringLiteral("qzprys-400-signals-%1").arg(QCoreApplication::applicationPid());
    }

    void init()
    {
        m_folder = std::make_unique<testsupport::RunFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        if (m_client && m_client->state() != QProcess::NotRunning) {
            m_client->kill();
            m_client->waitForFinished(5000);
        }
        m_client.reset();
        m_folder.reset();
    }

    void atLogin_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        // Started by nohup or a start script: SIGHUP stays ignored.
        QTest::newRow("SIGHUP ignored, then SIGTERM") << 0;
    }

    void atLogin()
    {
        QFETCH(int, sig);
        QVERIFY2(startClient(sig == 0), stderrText().constData());
        if (sig == 0)
            hangUpThenTerminate();
        else
            QCOMPARE(::kill(pid_t(m_client->processId()), sig), 0);
        checkEndedCleanly();
        if (QTest::currentTestFailed())
            return;
        if (sig == 0)
            checkHangUpIgnored();
        QVERIFY(logRows().isEmpty());
    }

    void whileRecording_data()
    {
        QTest::addColumn<bool>("hangUpIgnored");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGHUP ignored, then SIGTERM") << true;
    }

    void whileRecording()
    {
        QFETCH(bool, hangUpIgnored);
        auto sim = livedevices::startStreaming(kAddress, "green");
        QVERIFY(sim.device);
        const QString records = m_folder->filePath("records");
        const QStringList sql{
            QString("UPDATE systeminfo SET recordpath='%1', autologin=1, autoname='admin'").arg(records),
            "UPDATE recordcapture SET recordskdenable=1, recordduration=60, prevrecord=0, postrecord=0",
            QString("INSERT INTO devices(devname,username,password,address,port,connecttype,indexid,devtype) "
                    "VALUES('camA','admin','1234','%1','%2',0,1,'VARAR')")
                .arg(kAddress)
                .arg(sim.device->port()),
            testsupport::scheduleRow(0, kAddress, {"0:0-1440"}, 0),
        };
        for (const QString &statement : sql)
            QVERIFY2(testsupport::RunFolder::exec(database(), statement), qPrintable(statement));

        QVERIFY2(startClient(hangUpIgnored), stderrText().constData());
        const QString folder = records + "/RecordFile/" + recordnames::dayFolder(QDate::currentDate()) + '/' + kAddress;
        // Started: the file has its first frame and its start-only name.
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return !recordFiles(folder, recordnames::isUnfinishedRecordName).isEmpty() ||
                                m_client->state() == QProcess::NotRunning;
                     },
                     kRecordingMs),
                 "no recording started");
        QVERIFY2(m_client->state() == QProcess::Running, stderrText().right(3000).constData());

        if (hangUpIgnored)
            hangUpThenTerminate();
        else
            QCOMPARE(::kill(pid_t(m_client->processId()), SIGTERM), 0);
        checkEndedCleanly();
        if (QTest::currentTestFailed())
            return;
        if (hangUpIgnored)
            checkHangUpIgnored();
        QCOMPARE(logRows(), (QStringList{"login successful", "exit cmslient"}));
        QCOMPARE(recordFiles(folder, recordnames::isUnfinishedRecordName), QStringList());
        QCOMPARE(recordFiles(folder, recordnames::isInitialRecordName), QStringList());
        QVERIFY(!recordFiles(folder, recordnames::isValidRecordName).isEmpty());
        QVERIFY(mediatest::consistent(folder));
    }
};

QTEST_GUILESS_MAIN(TestSignals)
#include "tst_signals.moc"
