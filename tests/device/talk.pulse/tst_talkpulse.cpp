#include <QtTest>

#include <QProcess>

#include "device/qcaudiocapture.h"
#include "tests/support/pulsedaemon.h"

// The Qt Multimedia back end for real: a private PulseAudio daemon whose
// default source is a 1 kHz sine.
class TestTalkPulse : public QObject
{
    Q_OBJECT

    testsupport::PulseDaemon m_pulse;

    bool pactl(const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(m_pulse.environment());
        p.start(QStringLiteral("pactl"), args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!m_pulse.start(&why))
            QSKIP(qPrintable(why));
        QVERIFY(pactl({"load-module", "module-sine-source", "rate=8000", "frequency=1000", "source_name=testmic"}));
        QVERIFY(pactl({"set-default-source", "testmic"}));
    }

    void toneFromTheMicrophone()
    {
        qcAudioCapture capture;
        QVERIFY2(capture.startCapture(), qPrintable(QString("error %1").arg(capture.lastError())));
        // The sine source hands its samples over in lumps of about two
        // seconds, so the real rate is measured over several lumps with
        // readRaw (readEncoded keeps only the newest 200 ms of a lump).
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

    // Talk ends by suspending the capture and a later talk resumes it: the
    // samples must flow again, talk after talk.
    void samplesAgainAfterResume()
    {
        qcAudioCapture capture;
        QVERIFY2(capture.startCapture(), qPrintable(QString("error %1").arg(capture.lastError())));
        char block[640];
        auto drain = [&] {
            int got = 0;
            while (capture.readRaw(block, 640) == 640)
                got += 640;
            return got;
        };
        for (int round = 0; round < 3; ++round) {
            int got = 0;
            QTRY_VERIFY2_WITH_TIMEOUT((got += drain()) >= 6400, qPrintable(QString("round %1").arg(round)), 15000);
            capture.setSuspended(true);
            QTest::qWait(300);
            drain();
            capture.setSuspended(false);
        }
        QVERIFY(capture.stopCapture());
    }
};

QTEST_GUILESS_MAIN(TestTalkPulse)
#include "tst_talkpulse.moc"
