// The live stream client's throughput and its CPU cost at real rate, against
// the loopback device running as a separate process (only the client's CPU
// is counted here).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <vector>

#include "device/playstream.h"
#include "platform/net/tcpclient.h"

namespace {

struct Counter
{
    std::atomic<qint64> frames{0};
    std::atomic<qint64> bytes{0};
    std::atomic<unsigned> touch{0};
};

void onFrame(const unsigned char *data, int length, int, int, qint64, void *user)
{
    auto *c = static_cast<Counter *>(user);
    c->frames.fetch_add(1, std::memory_order_relaxed);
    c->bytes.fetch_add(length, std::memory_order_relaxed);
    if (length > 0)
        c->touch.fetch_add(data[0] + data[length - 1], std::memory_order_relaxed);
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Device
{
    QProcess process;
    int port = 0;
    bool start(const QString &clips, bool maxRate)
    {
        QStringList args{"--http", "0", "--clips", clips};
        if (maxRate)
            args << "--max-rate";
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(DEVICESIM_PROGRAM, args);
        if (!process.waitForReadyRead(10000))
            return false;
        const QByteArray line = process.readLine();
        const QByteArray after = line.mid(int(qstrlen("listening on 127.0.0.1:")));
        port = after.left(after.indexOf(':')).toInt();
        return port > 0;
    }
    ~Device()
    {
        if (process.state() != QProcess::NotRunning) {
            ::kill(pid_t(process.processId()), SIGTERM);
            process.waitForFinished(5000);
        }
    }
};

void sleepMs(int ms)
{
    QThread::msleep(ulong(ms));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Sections to run (all when none is named): throughput, sub64, main1.
    const QStringList only = app.arguments().mid(1);
    auto wanted = [&](const char *name) { return only.isEmpty() || only.contains(QLatin1String(name)); };
    QTemporaryDir dir;
    std::printf("nproc %d\n", QThread::idealThreadCount());
    QFile cpuinfo("/proc/cpuinfo");
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &l : cpuinfo.readAll().split('\n'))
            if (l.startsWith("model name")) {
                std::printf("cpu %s\n", l.mid(l.indexOf(':') + 2).constData());
                break;
            }
    }
    // The clips, then a 10-second 1080p clip in place of the main one.
    if (QProcess::execute(MAKE_CLIPS, {dir.path()}) != 0)
        return 1;
    if (wanted("throughput") || wanted("main1")) {
        QFile::remove(dir.filePath("h264-1080p25.h264"));
        if (QProcess::execute("ffmpeg", {"-hide_banner",
                                         "-loglevel",
                                         "error",
                                         "-y",
                                         "-f",
                                         "lavfi",
                                         "-i",
                                         "testsrc2=s=1920x1080:r=25",
                                         "-t",
                                         "10",
                                         "-c:v",
                                         "libx264",
                                         "-preset",
                                         "veryfast",
                                         "-g",
                                         "25",
                                         "-bf",
                                         "0",
                                         "-f",
                                         "h264",
                                         dir.filePath("h264-1080p25.h264")}) != 0)
            return 1;
    }
    std::fflush(stdout);

    if (wanted("throughput")) {
        Device dev;
        if (!dev.start(dir.path(), true))
            return 1;
        Counter c;
        PlayStream s("127.0.0.1", QString::number(dev.port), "admin", "1234", &onFrame, &c, PlayStream::kModeLive);
        s.prepareLiveRequest(PlayStream::kMainStream);
        s.start();
        sleepMs(2000);
        const qint64 f0 = c.frames, b0 = c.bytes;
        QElapsedTimer t;
        t.start();
        sleepMs(10000);
        const double secs = t.elapsed() / 1000.0;
        const double fps = (c.frames - f0) / secs, mbs = (c.bytes - b0) / secs / 1e6;
        s.stop();

        // Reference: a bare reader on the same device mode.
        platform::TcpClient bare;
        double bareMbs = 0;
        if (bare.connect("127.0.0.1", dev.port, 5000) == platform::TcpClient::Connected) {
            const QByteArray req = "GET /action/stream?subject=liveplay&stream=0 HTTP/1.0\r\nAuthorization: Basic "
                                   "YWRtaW46MTIzNA==\r\nConnection: Keep-Alive \r\nContent-length: -497391300\r\n\r\n";
            bare.send(req.constData(), size_t(req.size()));
            std::vector<unsigned char> buf(4 << 20);
            qint64 total = 0;
            QElapsedTimer w;
            w.start();
            while (w.elapsed() < 2000)
                if (bare.waitReadable(100) == platform::TcpClient::Ready)
                    bare.recv(buf.data(), buf.size());
            w.restart();
            while (w.elapsed() < 10000) {
                if (bare.waitReadable(100) == platform::TcpClient::Ready) {
                    const ssize_t n = bare.recv(buf.data(), buf.size());
                    if (n <= 0)
                        break;
                    total += n;
                }
            }
            bareMbs = total / (w.elapsed() / 1000.0) / 1e6;
        }
        std::printf("throughput: %.0f frames/s, %.1f MB/s parsed; bare reader %.1f MB/s; ratio %.2f\n", fps, mbs,
                    bareMbs, bareMbs > 0 ? mbs / bareMbs : 0.0);
        std::fflush(stdout);
    }

    auto realRate = [&](int count, int type) {
        Device dev;
        if (!dev.start(dir.path(), false))
            return -1.0;
        Counter c;
        std::vector<std::unique_ptr<PlayStream>> streams;
        for (int i = 0; i < count; ++i) {
            streams.emplace_back(new PlayStream("127.0.0.1", QString::number(dev.port), "admin", "1234", &onFrame, &c,
                                                PlayStream::kModeLive));
            streams.back()->prepareLiveRequest(type);
            streams.back()->start();
        }
        sleepMs(5000);
        const double cpu0 = cpuSeconds();
        const qint64 f0 = c.frames;
        QElapsedTimer t;
        t.start();
        sleepMs(20000);
        const double share = (cpuSeconds() - cpu0) / (t.elapsed() / 1000.0);
        std::printf("  (%lld frames in 20 s)\n", static_cast<long long>(c.frames - f0));
        for (auto &s : streams)
            s->stop();
        return share;
    };
    if (wanted("sub64")) {
        const double sub64 = realRate(64, PlayStream::kSubStream);
        std::printf("real rate: 64 sub streams %.4f of one core, %.5f per stream (target < 0.05)\n", sub64, sub64 / 64);
        std::fflush(stdout);
    }
    if (wanted("main1")) {
        const double main1 = realRate(1, PlayStream::kMainStream);
        std::printf("real rate: one 1080p25 main stream %.4f of one core\n", main1);
    }
    return 0;
}
