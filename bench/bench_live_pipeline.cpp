// The live road end to end: N loopback devices, the stream service, one
// camera glue per view in native windows laid out like the live grid, and
// what it costs per view. Run under an X server:
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build-release/bench/bench_live_pipeline --views 1,4,16,64 --stream sub
//
// Options: --views LIST, --stream sub|main, --warmup S (5), --measure S (20),
// --runs N (3), --path fused|full|both (both), --clips DIR (made with
// make-clips.sh into a temporary folder when not given).
//
// The devices send a busy pattern at a camera's bit rate with the frame
// number drawn into its top rows; the present hook reads it back, so the
// latency from the device's send to the picture on screen is measured per
// frame on CLOCK_MONOTONIC.
#include "benchsupport.h"
#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "media/qcstreamserver.h"
#include "platform/d3d9/d3d9diag.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <cstring>
#include <mutex>
#include <time.h>
#include <unistd.h>

namespace {

using namespace benchsupport;

constexpr int kMaxViews = 64;
constexpr int kClipFrames = 4096; // above the bench clips' length
constexpr int kFrameGapMs = 40;   // the clips' 25 frames per second

// Send times by device, stream and clip frame, written by the devices'
// threads and read by the players' present hooks.
struct SendTimes
{
    std::array<std::atomic<int64_t>, kClipFrames> at[2];
};
SendTimes g_sent[kMaxViews];

std::mutex g_lock;
std::map<HWND, int> g_presents;
std::map<HWND, int> g_viewOf;    // window -> view (= device) index
std::vector<double> g_latencyMs; // while measuring
std::atomic<bool> g_measuring{false};
std::atomic<int> g_stream{1};

// The frame number drawn in the picture's top 16 rows, read from the
// presented window image where the picture sits in its display rectangle
// (aspect kept, centred); -1 when it cannot be read.
int frameNumberOf(const platform::d3d9::PresentedImage &image, int pictureW, int pictureH)
{
    if (image.width <= 0 || image.height <= 0 || pictureW <= 0 || pictureH <= 0)
        return -1;
    const double scale = std::min(double(image.width) / pictureW, double(image.height) / pictureH);
    const double dw = pictureW * scale, dh = pictureH * scale;
    const double x0 = (image.width - dw) / 2, y0 = (image.height - dh) / 2;
    const int y = int(y0 + 8 * scale);
    if (y < 0 || y >= image.height)
        return -1;
    int n = 0;
    for (int k = 0; k < 16; ++k) {
        const int x = int(x0 + (k + 0.5) * dw / 16);
        if (x < 0 || x >= image.width)
            return -1;
        int level;
        if (image.format == platform::d3d9::PresentedFormat::Bgrx32) {
            const uint8_t *p = image.pixels + size_t(y) * image.stride + size_t(x) * 4;
            level = (p[0] + p[1] + p[2]) / 3;
        } else {
            uint16_t v;
            std::memcpy(&v, image.pixels + size_t(y) * image.stride + size_t(x) * 2, 2);
            level = (((v >> 11) & 31) * 8 + ((v >> 5) & 63) * 4 + (v & 31) * 8) / 3;
        }
        if (level > 160)
            n |= 1 << k;
        else if (level > 96)
            return -1; // neither black nor white: not a strip
    }
    return n;
}

int g_pictureW = 0, g_pictureH = 0;

void onPresent(HWND window, const platform::d3d9::PresentedImage &image, int64_t ns)
{
    int view = -1;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ++g_presents[window];
        auto it = g_viewOf.find(window);
        if (it != g_viewOf.end())
            view = it->second;
    }
    if (view < 0 || !g_measuring.load())
        return;
    const int frame = frameNumberOf(image, g_pictureW, g_pictureH);
    if (frame < 0 || frame >= kClipFrames)
        return;
    const int64_t sent = g_sent[view].at[g_stream.load()][frame].load();
    // A send time older than a few seconds belongs to an earlier loop of the
    // clip: the frame number was misread.
    if (sent <= 0 || ns < sent || ns - sent > 3000000000LL)
        return;
    std::lock_guard<std::mutex> lock(g_lock);
    g_latencyMs.push_back((ns - sent) / 1e6);
}

int presents(HWND w)
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_presents[w];
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

struct CpuSample
{
    double players = 0;
    double process = 0;
    double xserver = 0;
};

qint64 xServerPid()
{
    QString display = qEnvironmentVariable("DISPLAY");
    const int colon = display.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return -1;
    display = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0);
    QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(display));
    return lock.open(QIODevice::ReadOnly) ? lock.readAll().trimmed().toLongLong() : -1;
}

CpuSample sampleCpu(qint64 xpid)
{
    CpuSample s;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (threadName(task).startsWith(QLatin1String("player-")))
            s.players += cpuSeconds(QStringLiteral("/proc/self/task/%1/stat").arg(task));
    s.process = cpuSeconds(QStringLiteral("/proc/self/stat"));
    if (xpid > 0)
        s.xserver = cpuSeconds(QStringLiteral("/proc/%1/stat").arg(xpid));
    return s;
}

// The same, but paced as a live stream paces the player: a wait of gapMs
// before each packet, and only the decoding timed. Shows what a decoder
// that sleeps between pictures costs by itself (its state has left the
// caches by the next picture).
void referencePacedDecode(const QByteArray &clip, int gapMs, int maxFrames, double *wallMs, double *cpuMs)
{
    BareDecoder d;
    int frames = 0;
    double wall = 0, cpu = 0;
    const uint8_t *data = reinterpret_cast<const uint8_t *>(clip.constData());
    int left = clip.size();
    while (frames < maxFrames && d.nextPacket(data, left)) {
        usleep(useconds_t(gapMs) * 1000);
        QElapsedTimer t;
        const double c0 = threadCpuMs();
        t.start();
        frames += d.decode();
        wall += t.nsecsElapsed() / 1e6;
        cpu += threadCpuMs() - c0;
    }
    *wallMs = frames ? wall / frames : 0;
    *cpuMs = frames ? cpu / frames : 0;
}

struct RunResult
{
    double fpsMedian = 0, fpsMin = 0, lostPercent = 0;
    double cpuPerView = 0, decodeMs = 0, drawMs = 0, restCpu = 0, xCpu = 0, rss = 0;
    double decodeCpuMs = 0, drawCpuMs = 0, yieldMs = 0;
    double latencyP50 = 0, latencyP99 = 0;
    double latencySamples = 0;
    bool ok = false;
};

RunResult runOnce(int n, int stream, const QString &clips, int warmupS, int measureS, bool fused)
{
    RunResult r;
    platform::d3d9::setFusedPresent(fused);
    std::vector<std::unique_ptr<devicesim::Device>> devices;
    std::vector<devicesim::Protocols> protocols;
    for (int i = 0; i < n; ++i) {
        auto d = std::make_unique<devicesim::Device>();
        d->setCredentials(QStringLiteral("admin"), QStringLiteral("1234"));
        protocols.push_back(devicesim::installProtocols(*d, clips));
        devicesim::LiveStream &live = *protocols.back().live;
        for (auto &stream : g_sent[i].at)
            for (auto &t : stream)
                t = 0;
        devicesim::LiveStream::Options options = live.options();
        options.sendLog = [i](int s, int frame, qint64 ns) {
            if (frame >= 0 && frame < kClipFrames)
                g_sent[i].at[s ? 1 : 0][frame] = ns;
        };
        live.setOptions(options);
        if (!d->start(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i)), 0)) {
            std::fprintf(stderr, "cannot start device %d\n", i);
            return r;
        }
        live.switchClip(0, QStringLiteral("bench-main.h264"), 1920, 1080);
        live.switchClip(1, QStringLiteral("bench-sub.h264"), 640, 360);
        devices.push_back(std::move(d));
    }
    QThread serviceThread;
    auto *server = new qcStreamServer;
    server->moveToThread(&serviceThread);
    serviceThread.start();
    for (int i = 0; i < n; ++i)
        server->addDevice(QStringLiteral("127.0.0.%1").arg(2 + i), QString::number(devices[i]->port()),
                          QStringLiteral("cam %1").arg(i), QStringLiteral("admin"), QStringLiteral("1234"),
                          QStringLiteral("VARAR"), i + 1);

    const int cols = int(std::ceil(std::sqrt(double(n))));
    const int vw = 1920 / cols, vh = 1080 / cols;
    QWidget top;
    top.setWindowFlags(Qt::FramelessWindowHint);
    top.setGeometry(0, 0, 1920, 1080);
    std::vector<QWidget *> views;
    for (int i = 0; i < n; ++i) {
        auto *w = new QWidget(&top);
        w->setGeometry((i % cols) * vw, (i / cols) * vh, vw, vh);
        views.push_back(w);
    }
    top.show();
    waitMs(300);

    std::vector<std::unique_ptr<qcCameraUtil>> glues(n);
    QElapsedTimer started;
    started.start();
    int running = 0;
    while (running < n && started.elapsed() < 30000) {
        for (int i = 0; i < n; ++i) {
            if (glues[i])
                continue;
            const QString ip = QStringLiteral("127.0.0.%1").arg(2 + i);
            qcStreamServer::VideoInfo mv{}, sv{};
            qcStreamServer::AudioInfo ma{}, sa{};
            quint8 md = 0, sd = 0;
            if (!server->getMainFrameBuffer(ip) || !server->getSubFrameBuffer(ip) ||
                !server->getStreamInfo(ip, 0, &mv, &ma, &md) || !server->getStreamInfo(ip, 1, &sv, &sa, &sd) ||
                !mv.codec || !sv.codec)
                continue;
            glues[i] = std::make_unique<qcCameraUtil>();
            qcCameraUtil &g = *glues[i];
            g.setPlayerName(QStringLiteral("player-%1").arg(i));
            g.setMainSubBuffers(server->getMainFrameBuffer(ip), server->getSubFrameBuffer(ip));
            g.setVideoWidget(views[i]);
            g.setStreamInfo(
                MediaInfo_t{md, mv.codec, mv.width, mv.height, mv.frameRate, ma.codec, ma.sampleRate, ma.channels},
                MediaInfo_t{sd, sv.codec, sv.width, sv.height, sv.frameRate, sa.codec, sa.sampleRate, sa.channels});
            if (g.startStream(stream))
                ++running;
        }
        waitMs(50);
    }
    if (running == n) {
        {
            std::lock_guard<std::mutex> lock(g_lock);
            g_viewOf.clear();
            g_latencyMs.clear();
            for (int i = 0; i < n; ++i)
                g_viewOf[HWND(glues[i]->renderSurface()->winId())] = i;
        }
        waitMs(warmupS * 1000);
        const qint64 xpid = xServerPid();
        std::vector<int> before(n);
        int64_t decodeNs = 0, decodeCpuNs = 0, decoded = 0, drawNs = 0, drawCpuNs = 0, yieldNs = 0, drawn = 0;
        auto addCounters = [&](int sign) {
            for (int i = 0; i < n; ++i) {
                const CLivePlayer *p = glues[i]->player();
                decodeNs += sign * p->decodeNanos();
                decodeCpuNs += sign * p->decodeCpuNanos();
                decoded += sign * p->picturesDecoded();
                drawNs += sign * p->drawNanos();
                drawCpuNs += sign * p->drawCpuNanos();
                yieldNs += sign * p->drawYieldNanos();
                drawn += sign * p->picturesDrawn();
            }
        };
        for (int i = 0; i < n; ++i)
            before[i] = presents(HWND(glues[i]->renderSurface()->winId()));
        addCounters(-1);
        const CpuSample c0 = sampleCpu(xpid);
        QElapsedTimer t;
        t.start();
        g_measuring = true;
        waitMs(measureS * 1000);
        g_measuring = false;
        const double seconds = t.nsecsElapsed() / 1e9;
        const CpuSample c1 = sampleCpu(xpid);
        {
            std::lock_guard<std::mutex> lock(g_lock);
            r.latencyP50 = percentile(g_latencyMs, 0.5);
            r.latencyP99 = percentile(g_latencyMs, 0.99);
            r.latencySamples = double(g_latencyMs.size());
            g_viewOf.clear();
        }
        std::vector<double> fps;
        for (int i = 0; i < n; ++i)
            fps.push_back((presents(HWND(glues[i]->renderSurface()->winId())) - before[i]) / seconds);
        addCounters(1);
        r.fpsMedian = median(fps);
        r.fpsMin = *std::min_element(fps.begin(), fps.end());
        double sum = 0;
        for (double f : fps)
            sum += f;
        r.lostPercent = std::max(0.0, 100.0 * (1.0 - sum / (25.0 * n)));
        r.cpuPerView = (c1.players - c0.players) / seconds / n * 100.0;
        r.restCpu = ((c1.process - c0.process) - (c1.players - c0.players)) / seconds * 100.0;
        r.xCpu = (c1.xserver - c0.xserver) / seconds * 100.0;
        r.decodeMs = decoded ? decodeNs / 1e6 / decoded : 0;
        r.decodeCpuMs = decoded ? decodeCpuNs / 1e6 / decoded : 0;
        // Without the yield (2 ms asleep by design) each presented picture
        // takes, as long as it really slept.
        r.yieldMs = drawn ? yieldNs / 1e6 / drawn : 0;
        r.drawMs = drawn ? (drawNs - yieldNs) / 1e6 / drawn : 0;
        r.drawCpuMs = drawn ? drawCpuNs / 1e6 / drawn : 0;
        r.rss = rssMiB();
        r.ok = true;
    } else {
        std::fprintf(stderr, "only %d of %d views started\n", running, n);
    }
    for (auto &g : glues)
        if (g)
            g->stopStream();
    glues.clear();
    QMetaObject::invokeMethod(server, "shutdown", Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    delete server;
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    QList<int> counts{1, 4, 16, 64};
    QString streamName = QStringLiteral("sub");
    QString clips = qEnvironmentVariable("ARDO_CLIPS_DIR");
    QString path = QStringLiteral("both");
    int warmup = 5, measure = 20, runs = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &k = args[i];
        const QString &v = args[i + 1];
        if (k == QLatin1String("--views")) {
            counts.clear();
            for (const QString &p : v.split(QLatin1Char(',')))
                counts << qBound(1, p.toInt(), 64);
        } else if (k == QLatin1String("--stream")) {
            streamName = v;
        } else if (k == QLatin1String("--clips")) {
            clips = v;
        } else if (k == QLatin1String("--warmup")) {
            warmup = v.toInt();
        } else if (k == QLatin1String("--measure")) {
            measure = qMax(1, v.toInt());
        } else if (k == QLatin1String("--runs")) {
            runs = qMax(1, v.toInt());
        } else if (k == QLatin1String("--path")) {
            path = v;
        } else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(k));
            return 2;
        }
    }
    const int stream = streamName == QLatin1String("main") ? 0 : 1;
    QTemporaryDir made;
    if (!makeBenchClips(ARDO_MAKE_CLIPS, &clips, made))
        return 1;
    platform::d3d9::setPresentHook(onPresent);
    g_stream = stream;

    QFile clipFile(clips + (stream == 0 ? "/bench-main.h264" : "/bench-sub.h264"));
    clipFile.open(QIODevice::ReadOnly);
    int pw = 0, ph = 0;
    double refDecodeCpu = 0;
    const double refDecode = referenceDecodeMs(clipFile.readAll(), &pw, &ph, &refDecodeCpu);
    g_pictureW = pw;
    g_pictureH = ph;
    std::printf("live pipeline, %s stream %dx%d, %ld cores, %s, warm-up %d s, measured %d s, median of %d\n",
                qPrintable(streamName), pw, ph, sysconf(_SC_NPROCESSORS_ONLN),
                qPrintable(QGuiApplication::platformName()), warmup, measure, runs);
    clipFile.seek(0);
    double pacedDecode = 0, pacedDecodeCpu = 0;
    referencePacedDecode(clipFile.readAll(), kFrameGapMs, 100, &pacedDecode, &pacedDecodeCpu);
    std::printf("reference: bare libavcodec decode (one thread) %.3f ms/frame (cpu %.3f); paced with %d ms "
                "before each packet like the stream: %.3f ms/frame (cpu %.3f)\n",
                refDecode, refDecodeCpu, kFrameGapMs, pacedDecode, pacedDecodeCpu);
    std::printf("decode ms and draw ms: wall time of the player's calls per picture (draw without the yield, "
                "whose wall time is its own column); cpu: the thread's processor time in those calls\n");
    std::printf("%4s %-5s %9s %9s %7s %9s %9s %9s %8s %8s %8s %10s %10s %11s %8s %7s %9s %8s %8s %7s\n", "N", "path",
                "fps med", "fps min", "lost%", "cpu/view%", "decode ms", "dec cpu", "draw ms", "draw cpu", "yield ms",
                "sws ref ms", "sws paced", "rest cpu%", "X cpu%", "RSS MB", "64 proj", "lat p50", "lat p99", "lat n");
    std::vector<bool> paths;
    if (path != QLatin1String("full"))
        paths.push_back(true);
    if (path != QLatin1String("fused"))
        paths.push_back(false);
    for (int n : counts) {
        const int cols = int(std::ceil(std::sqrt(double(n))));
        double pacedScale = 0;
        const double refScale = referenceScaleMs(pw, ph, 1920 / cols, 1080 / cols, kFrameGapMs, &pacedScale);
        for (bool fused : paths) {
            std::vector<RunResult> results;
            for (int i = 0; i < runs; ++i) {
                RunResult r = runOnce(n, stream, clips, warmup, measure, fused);
                if (r.ok)
                    results.push_back(r);
            }
            if (results.empty()) {
                std::printf("%4d %-5s failed\n", n, fused ? "fused" : "full");
                continue;
            }
            auto med = [&](double RunResult::*m) { return medianOf(results, m); };
            const double cpuView = med(&RunResult::cpuPerView);
            // Cores needed for 64 views: players scaled by view count, plus
            // the rest of the process and the X server scaled the same way.
            const double projection = 64.0 * (cpuView + (med(&RunResult::restCpu) + med(&RunResult::xCpu)) / n) / 100.0;
            std::printf(
                "%4d %-5s %9.1f %9.1f %7.2f %9.1f %9.3f %9.3f %8.3f %8.3f %8.3f %10.3f %10.3f %11.1f %8.1f %7.0f "
                "%8.2fc %6.1fms %6.1fms %7.0f\n",
                n, fused ? "fused" : "full", med(&RunResult::fpsMedian), med(&RunResult::fpsMin),
                med(&RunResult::lostPercent), cpuView, med(&RunResult::decodeMs), med(&RunResult::decodeCpuMs),
                med(&RunResult::drawMs), med(&RunResult::drawCpuMs), med(&RunResult::yieldMs), refScale, pacedScale,
                med(&RunResult::restCpu), med(&RunResult::xCpu), med(&RunResult::rss), projection,
                med(&RunResult::latencyP50), med(&RunResult::latencyP99), med(&RunResult::latencySamples));
            std::fflush(stdout);
        }
    }
    std::printf("latency: device send to present, read from the frame number in the picture; the devices, the "
                "stream service and the X server share this machine's cores\n");
    platform::d3d9::setPresentHook(nullptr);
    return 0;
}
