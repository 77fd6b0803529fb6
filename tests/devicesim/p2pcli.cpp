// The program's P2P mode: serves identifiers over the P2P framing and prints
// what it receives, one line per IO-control message.

#include "devicesim/p2pdevice.h"

#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>

namespace devicesim {

namespace {

void usage(FILE *to)
{
    std::fprintf(to, "usage: devicesim --p2p UID [--p2p UID]... [--user U] [--password W] [--address 127.0.0.X]\n"
                     "                 [--p2p-port PORT] [--clips DIR] [--p2p-registry FILE]\n"
                     "                 [--codec h264|h265] [--audio mulaw|alaw|pcm|g726|aac|none]\n");
}

std::mutex g_print;

void printLine(const QByteArray &line)
{
    std::lock_guard<std::mutex> lock(g_print);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray sizeFromName(const QString &clip)
{
    if (clip.contains(QLatin1String("1080p")))
        return "1920x1080";
    if (clip.contains(QLatin1String("240p")))
        return "320x240";
    return "640x360";
}

} // namespace

bool runP2pProgram(const QStringList &args, int *rc)
{
    if (!args.contains(QLatin1String("--p2p")))
        return false;
    QStringList uids;
    QString user = QStringLiteral("admin"), password = QStringLiteral("1234");
    QString address = QStringLiteral("127.0.0.1"), clips, registry;
    QString codec = QStringLiteral("h264"), audio = QStringLiteral("mulaw");
    int port = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString opt = args[i];
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "devicesim: %s needs a value\n", qPrintable(opt));
            usage(stderr);
            *rc = 2;
            return true;
        }
        const QString value = args[++i];
        if (opt == QLatin1String("--p2p"))
            uids.append(value);
        else if (opt == QLatin1String("--user"))
            user = value;
        else if (opt == QLatin1String("--password"))
            password = value;
        else if (opt == QLatin1String("--address"))
            address = value;
        else if (opt == QLatin1String("--p2p-port"))
            port = value.toInt();
        else if (opt == QLatin1String("--clips"))
            clips = value;
        else if (opt == QLatin1String("--p2p-registry"))
            registry = value;
        else if (opt == QLatin1String("--codec"))
            codec = value;
        else if (opt == QLatin1String("--audio"))
            audio = value;
        else {
            std::fprintf(stderr, "devicesim: unknown option %s\n", qPrintable(opt));
            usage(stderr);
            *rc = 2;
            return true;
        }
    }

    P2pMedia media;
    const bool h265 = codec == QLatin1String("h265");
    media.videoCodec = h265 ? 80 : 78;
    const QString clip = h265 ? QStringLiteral("h265-360p25.h265") : QStringLiteral("h264-360p25.h264");
    media.mainUnits = p2pLoadClip(clips + QLatin1Char('/') + clip, h265);
    if (media.mainUnits.isEmpty()) {
        std::fprintf(stderr, "devicesim: cannot read %s in %s (--clips DIR)\n", qPrintable(clip), qPrintable(clips));
        *rc = 1;
        return true;
    }
    QByteArray audioText;
    auto readClip = [&](const char *name) {
        QFile f(clips + QLatin1Char('/') + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    if (audio == QLatin1String("none")) {
        media.audio = P2pMedia::NoAudio;
        audioText = "none";
    } else if (audio == QLatin1String("alaw")) {
        media.audio = P2pMedia::ALaw;
        audioText = "a-law 8000";
    } else if (audio == QLatin1String("pcm")) {
        media.audio = P2pMedia::Pcm;
        audioText = "pcm 8000";
    } else if (audio == QLatin1String("g726")) {
        media.audio = P2pMedia::G726;
        media.g726 = readClip("tone-g726-8k.raw");
        audioText = "g726 8000";
    } else if (audio == QLatin1String("aac")) {
        media.audio = P2pMedia::Aac;
        media.adts = readClip("tone-aac-48k.adts");
        audioText = "aac 16000";
    } else {
        media.audio = P2pMedia::MuLaw;
        audioText = "mu-law 8000";
    }

    // Signals are taken by sigwait below; the device's threads inherit the mask.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    P2pDevice device;
    for (const QString &uid : uids)
        device.addIdentity(uid, user, password, media);
    device.setLineObserver(printLine);
    QString error;
    if (!device.start(address, port, &error)) {
        std::fprintf(stderr, "devicesim: %s\n", qPrintable(error));
        *rc = 1;
        return true;
    }
    if (!registry.isEmpty() && !device.writeRegistry(registry, &error)) {
        std::fprintf(stderr, "devicesim: cannot write %s: %s\n", qPrintable(registry), qPrintable(error));
        *rc = 1;
        return true;
    }
    for (const QString &uid : uids)
        printLine(QStringLiteral("p2p %1 on %2:%3").arg(uid, address).arg(device.port()).toUtf8() + " (video " +
                  (h265 ? "h265 " : "h264 ") + sizeFromName(clip) + " 25fps, audio " + audioText + ')');
    int sig = 0;
    sigwait(&set, &sig);
    device.stop();
    *rc = 0;
    return true;
}

} // namespace devicesim
