#include <QtTest>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>

#include "device/qcaudiocapture.h"

// The Qt Multimedia back end for real: a private PulseAudio daemon whose
// default source is a 1 kHz sine.
class TestTalkPulse : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QProcess m_daemon;

private slots:
    void initTestCase()
    {
        const QString pulse = QStandardPaths::findExecutable("pulseaudio");
        if (pulse.isEmpty())
            QSKIP("pulseaudio is not installed");
        QVERIFY(m_dir.isValid());
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0700);
        const QString socket = m_dir.filePath("native");
        QFile config(m_dir.filePath("daemon.pa"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                                    "load-module module-sine-source rate=8000 frequency=1000 source_name=testmic\n"
                                    "set-default-source testmic\n")
                         .arg(socket)
                         .toUtf8());
        config.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        env.insert("HOME", m_dir.path());
        m_daemon.setProcessEnvironment(env);
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start(pulse,
                       {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-F", config.fileName()});
        if (!m_daemon.waitForStarted(5000))
            QSKIP("pulseaudio does not start");
        QElapsedTimer t;
        t.start();
        while (!QFile::exists(socket) && t.elapsed() < 5000 && m_daemon.state() == QProcess::Running)
            QTest::qWait(50);
        if (!QFile::exists(socket))
            QSKIP(qPrintable("pulseaudio did not come up: " + QString::fromLocal8Bit(m_daemon.readAll())));
        qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
    }

    void cleanupTestCase()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_daemon.processId()), SIGTERM);
            if (!m_daemon.waitForFinished(3000))
                m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }

    void toneFromTheMicrophone()
    {
        qcAudioCapture capture;
        QVERIFY2(capture.startCapture(), qPrintable(QString("error %1").arg(capture.lastError())));
        // The sine source hands its samples over in lumps of about two
        // seconds, so the real rate is measured over several lumps with
        // readRaw (readEncoded keeps only the newest two blocks of a lump).
        QByteArray pcm;
        char block[640];
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            QTest::qWait(10);
            while (capture.readRaw(block, 640) == 640)
                pcm.append(block, 640);
        }
        QVERIFY(capture.stopCapture());
        const double perSecond = pcm.size() / 2.0 / (t.elapsed() / 1000.0);
        QVERIFY2(perSecond > 4000 && perSecond < 12000, qPrintable(QString::number(perSecond)));
        QVERIFY(pcm.size() >= 640);
        int crossings = 0;
        const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
        const int n = pcm.size() / 2;
        for (int i = 1; i < n; ++i)
            crossings += (s[i - 1] < 0) != (s[i] < 0);
        const double f = crossings / 2.0 * 8000.0 / n;
        QVERIFY2(f > 950 && f < 1050, qPrintable(QString::number(f)));
    }
};

QTEST_GUILESS_MAIN(TestTalkPulse)
#include "tst_talkpulse.moc"
