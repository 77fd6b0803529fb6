// devprobe: the product's stream, alarm, talk and discovery clients from the
// command line, printing one line per callback or signal.

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <mutex>

#include "device/framehead.h"
#include "device/playstream.h"
#include "device/qcalarmserver.h"
#include "device/qcaudiocapture.h"
#include "device/qcdeviceintercom.h"
#include "device/qcnoconoption.h"
#include "devprobe.h"

namespace {

std::mutex g_print;

void line(const QString &text)
{
    std::lock_guard<std::mutex> lock(g_print);
    std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
}

int usage()
{
    std::fprintf(stderr, "usage: devprobe stream IP PORT USER PASSWORD [main|sub]\n"
                         "       devprobe p2p [--raw] [--ptz ID] [--talk-tone HZ] [--seconds N] UID USER PASSWORD\n"
                         "       devprobe alarm IP PORT USER PASSWORD\n"
                         "       devprobe talk IP PORT USER PASSWORD [--tone HZ | --mic] [--seconds N]\n"
                         "       devprobe discover [--seconds N]\n"
                         "       devprobe getnet MAC [--seconds N]\n"
                         "       devprobe setnet MAC IP MASK GATEWAY static|dhcp USER PASSWORD [--seconds N]\n");
    return 2;
}

void onFrame(const unsigned char *data, int length, int kind, int subkind, qint64 ts, void *)
{
    if (kind == KindStreamInfo) {
        const StreamInfo_t s = wire::readStreamInfo(data);
        line(QStringLiteral("106 len %1 %2x%3 %4 %5fps audio codec %6 %7Hz ch %8")
                 .arg(length)
                 .arg(s.width)
                 .arg(s.height)
                 .arg(s.videoCodec() == 0 ? "h264" : "h265")
                 .arg(s.framesPerSecond())
                 .arg(s.audioCodec())
                 .arg(s.sampleRate)
                 .arg(s.channelCode()));
    } else if (kind == KindVideo) {
        line(QStringLiteral("109/%1 len %2 ts %3").arg(subkind).arg(length).arg(ts));
    } else {
        line(QStringLiteral("%1 len %2 ts %3").arg(kind).arg(length).arg(ts));
    }
}

int option(const QStringList &args, const QString &name, int fallback)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
}

QString version(const DeviceInfo_t &d)
{
    QString v = QStringLiteral("%1.%2.%3").arg(d.versionMajor()).arg(d.versionMinor()).arg(d.versionBuild());
    if (d.versionExtra() >= 0)
        v += QStringLiteral(".%1").arg(d.versionExtra());
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString cmd = args[0];
    if (cmd == "p2p")
        return devprobeP2p(app, args.mid(1));
    const int seconds = option(args, "--seconds", cmd == "talk" ? 8 : 2);

    if (cmd == "stream" && args.size() >= 5) {
        const bool main = args.size() > 5 && args[5] == "main";
        auto *s = new PlayStream(args[1], args[2], args[3], args[4], &onFrame, nullptr, PlayStream::kModeLive);
        QObject::connect(s, &PlayStream::sigConnectStatus, &app, [&](int st) {
            line(QStringLiteral("status %1").arg(st));
            if (st != StatusConnected)
                app.exit(st == StatusFailed ? 1 : 0);
        });
        if (!s->prepareLiveRequest(main ? PlayStream::kMainStream : PlayStream::kSubStream))
            return usage();
        s->start();
        const int rc = app.exec();
        s->stop();
        delete s;
        return rc;
    }

    if (cmd == "alarm" && args.size() >= 5) {
        QThread thread;
        auto *server = new qcAlarmServer;
        server->moveToThread(&thread);
        QObject::connect(server, &qcAlarmServer::sigAlarmStatus, &app,
                         [](const QString &ip, int code) { line(QStringLiteral("alarm %1 %2").arg(ip).arg(code)); });
        QObject::connect(server, &qcAlarmServer::sigConnectFailed, &app,
                         [](const QString &ip) { line(QStringLiteral("connect failed %1").arg(ip)); });
        thread.start();
        server->addDevice(args[1], args[2], args[3], args[4], 1);
        const int rc = app.exec();
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        return rc;
    }

    if (cmd == "talk" && args.size() >= 5) {
        std::unique_ptr<AudioInputBackend> backend;
        if (!args.contains("--mic"))
            backend = std::make_unique<ToneAudioInput>(option(args, "--tone", 1000), 8000);
        qcAudioCapture capture(nullptr, std::move(backend));
        if (!capture.startCapture())
            line(QStringLiteral("capture failed, error %1").arg(capture.lastError()));
        qcDeviceIntercom talk;
        talk.setParams(args[1], args[2], args[3], args[4], &capture);
        talk.start();
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
        talk.stopIntercom();
        line(talk.talkStarted() ? QStringLiteral("talk ended") : QStringLiteral("talk did not start"));
        return talk.talkStarted() ? 0 : 1;
    }

    std::unique_ptr<qcNoconOption> option(new qcNoconOption);
    QObject::connect(option.get(), &qcNoconOption::sigHasDevices, &app, [](DeviceInfo_t d) {
        line(
            QStringLiteral("device \"%1\" %2:%3 firmware %4").arg(d.name(), d.address()).arg(d.port()).arg(version(d)));
    });
    QObject::connect(option.get(), &qcNoconOption::sigNetinfo, &app, [](NetIPCfg_t c) {
        line(QStringLiteral("net %1 %2 %3 %4 %5")
                 .arg(c.mac(), c.isStatic() ? "static" : "dhcp", c.address(), c.mask(), c.gateway()));
    });
    QObject::connect(option.get(), &qcNoconOption::sigSetresult, &app, [](int code, int cur, int total) {
        line(QStringLiteral("set: %1 %2/%3").arg(code).arg(cur).arg(total));
    });
    if (cmd == "discover") {
        option->startSearch();
    } else if (cmd == "getnet" && args.size() >= 2) {
        option->queryNetInfo(args[1]);
    } else if (cmd == "setnet" && args.size() >= 8) {
        option->addSetRequest(args[2], args[1], args[3], args[4], args[6], args[7], args[5] == "static" ? 0 : 2);
        option->startSetIp();
    } else {
        return usage();
    }
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    option->stopOption();
    return 0;
}
