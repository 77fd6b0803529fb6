// devprobe p2p: a device reached by P2P identifier, through the stream front
// end (or, with --raw, the P2P device alone), printed line by line.

#include "devprobe.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>

#include "device/audioinput.h"
#include "device/qcaudiocapture.h"
#include "device/qccommonstream.h"
#include "device/qcdevicefromtutk.h"

namespace {

std::mutex g_print;

void say(const QByteArray &line)
{
    std::lock_guard<std::mutex> lock(g_print);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void onData(const unsigned char *data, int length, int kind, int subkind, qint64 ts, void *)
{
    if (kind == KindStreamInfo && length >= kStreamInfoSize) {
        const StreamInfo_t si = wire::readStreamInfo(data);
        say(QStringLiteral("106 len %1 %2x%3 %4 audio codec %5 %6Hz ch %7 flags 0x%8")
                .arg(length)
                .arg(si.width)
                .arg(si.height)
                .arg(si.videoCodec() == 0 ? "h264" : "h265")
                .arg(si.audioCodec())
                .arg(si.sampleRate)
                .arg(si.channelCode())
                .arg(si.flags, 0, 16)
                .toUtf8());
    } else if (kind == KindVideo) {
        say(QStringLiteral("109/%1 len %2 ts %3").arg(subkind).arg(length).arg(ts).toUtf8());
    } else {
        say(QStringLiteral("%1 len %2 ts %3").arg(kind).arg(length).arg(ts).toUtf8());
    }
}

int onRawStatus(int status, int, void *)
{
    say("status " + QByteArray::number(status));
    return 0;
}

void usage()
{
    std::fprintf(stderr, "usage: devprobe p2p [--raw] [--ptz ID] [--talk-tone HZ] [--seconds S] UID USER PASSWORD\n"
                         "  the identifier is looked up in the file named by ARDO_P2P_REGISTRY\n");
}

} // namespace

int devprobeP2p(QCoreApplication &app, const QStringList &args)
{
    std::signal(SIGPIPE, SIG_IGN);
    bool raw = false;
    int ptz = -1;
    double tone = 0;
    int seconds = 0;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--raw"))
            raw = true;
        else if (a == QLatin1String("--ptz") && hasValue)
            ptz = args[++i].toInt();
        else if (a == QLatin1String("--talk-tone") && hasValue)
            tone = args[++i].toDouble();
        else if (a == QLatin1String("--seconds") && hasValue)
            seconds = args[++i].toInt();
        else if (a.startsWith(QLatin1String("--"))) {
            usage();
            return 2;
        } else
            positional << a;
    }
    if (positional.size() != 3) {
        usage();
        return 2;
    }
    const QString uid = positional[0], user = positional[1], password = positional[2];
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);

    if (raw) {
        qcDeviceFromTutk device;
        device.setStatusCallback(onRawStatus, &device);
        device.setConnectParams(uid, QString(), user, password);
        device.openStream(8, 1);
        device.connectDevice();
        const int rc = app.exec();
        device.disconnectDevice();
        return rc;
    }

    auto stream =
        std::make_unique<qcCommonStream>(uid, QString(), user, password, QString::fromLatin1(kP2pProtocolName));
    int dummy = 0;
    stream->addDataCallback(onData, &dummy);
    std::unique_ptr<qcAudioCapture> capture;
    bool asked = false;
    QObject::connect(stream.get(), &qcCommonStream::sigConnectStatus, &app, [&](int status) {
        say("status " + QByteArray::number(status));
        if (status != StatusConnected || asked)
            return;
        asked = true;
        // Commands go out once the stream has had a moment to start.
        QTimer::singleShot(1000, &app, [&] {
            if (ptz >= 0)
                stream->ptzControl(ptz);
            if (tone > 0) {
                capture = std::make_unique<qcAudioCapture>(nullptr, std::make_unique<ToneAudioInput>(tone));
                capture->startCapture();
                stream->startTalk(capture.get());
            }
        });
    });
    if (!stream->openDevice(3) || !stream->setCallbacks()) {
        std::fprintf(stderr, "devprobe: cannot open %s\n", qPrintable(uid));
        return 1;
    }
    const int rc = app.exec();
    if (capture) {
        stream->stopTalk();
        // The talk worker ends its session at its next pass.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 400)
            app.processEvents(QEventLoop::AllEvents, 50);
        capture->stopCapture();
    }
    stream.reset();
    return rc;
}
