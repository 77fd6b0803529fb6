// The settings pages' live preview end to end: one loopback device, one
// stream player driven as a page drives it (a new drawing widget for each
// stream description), and what the pictures cost on each path. Run under
// an X server:
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build-release/bench/bench_preview --renderer d3d,yuv --clip main720,main1080
//
// Options: --renderer LIST (d3d,yuv), --clip LIST (main720,main1080),
// --warmup-s S (5), --measure-s S (20), --runs N (3), --drops N (20),
// --clips DIR (made with make-clips.sh into a temporary folder when not
// given). Shorter runs for a quick look: --warmup-s 2 --measure-s 5 --runs 1
// --drops 5.
#include "benchsupport.h"
#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/cd3drender.h"
#include "media/cliveplayer.h"
#include "media/cyuvrender.h"
#include "media/qcstreamplayer.h"
#include "platform/d3d9/d3d9diag.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QProcess>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <map>
#include <memory>

namespace {

using namespace benchsupport;

constexpr int kFrameGapMs = 40; // the clips' 25 frames per second
const QSize kD3DSize(491, 316);
const QSize kYuvSize(634, 340);

struct Clip
{
    const char *name;
    const char *file;
    bool colour; // the device's solid red picture instead of a file of the bench set
};
const Clip kClips[] = {{"main720", "colour-red-main.h264", true}, {"main1080", "bench-main.h264", false}};

// The stream player with a drawing widget per stream description, as the
// preview pages hold it.
class Preview : public QObject
{
public:
    Preview(bool d3d, QWidget *area, quint16 port)
        : m_d3d(d3d), m_area(area), m_player(nullptr, QStringLiteral("127.0.0.1"), QString::number(port),
                                             QStringLiteral("admin"), QStringLiteral("1234"), 6)
    {
        connect(&m_player, &qcStreamPlayer::sigVideoratio, this, &Preview::onVideoratio);
        m_player.openStream();
    }
    ~Preview() override { m_player.stopPlay(); }

    int generation() const { return m_generation; }
    // Pictures put on the screen, and pictures decoded but not shown, on the
    // current drawing widget.
    qint64 presented() const
    {
        if (m_d3d)
            return m_player.d3dRender() ? qint64(m_player.d3dRender()->picturesPresented()) : 0;
        const auto *render = qobject_cast<const CYuvRender *>(m_surface.data());
        return render ? render->picturesPainted() : 0;
    }
    qint64 dropped() const
    {
        if (m_d3d)
            return m_player.d3dRender() ? qint64(m_player.d3dRender()->picturesDropped()) : 0;
        const CLivePlayer *player = m_player.livePlayer();
        return player ? player->picturesDecoded() - presented() : 0;
    }
    double renderNs() const { return m_player.d3dRender() ? double(m_player.d3dRender()->renderNanos()) : 0; }
    qcStreamPlayer &player() { return m_player; }

private:
    void onVideoratio(int width, int height)
    {
        m_player.releaseRender();
        delete m_surface;
        if (m_d3d) {
            m_surface = new QWidget(m_area);
            m_surface->setGeometry(QRect(QPoint(), kD3DSize));
            m_surface->show();
            m_player.startPlay(m_surface);
        } else {
            auto *render = new CYuvRender(m_area, width, height);
            render->setGeometry(QRect(QPoint(), kYuvSize));
            render->setDisplayMode(CYuvRender::Stretch);
            render->show();
            m_surface = render;
            m_player.startYuvPlay(render);
        }
        ++m_generation;
    }

    bool m_d3d;
    QWidget *m_area;
    qcStreamPlayer m_player;
    QPointer<QWidget> m_surface;
    int m_generation = 0;
};

// Processor seconds by thread name; the GUI thread is "gui".
std::map<QString, double> cpuByThread()
{
    std::map<QString, double> out;
    const QString self = QString::number(getpid());
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        out[task == self ? QStringLiteral("gui") : threadName(task)] +=
            cpuSeconds(QStringLiteral("/proc/self/task/%1/stat").arg(task));
    return out;
}

// Waits in the event loop until the condition holds; false after ms.
template <class F>
bool waitFor(F condition, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        waitMs(5);
    }
    return true;
}

struct Steady
{
    double fps = 0, droppedPercent = 0, renderMs = 0, rss = 0;
    std::map<QString, double> cpuPercent; // by thread name
    bool ok = false;
};

struct Reconnect
{
    std::vector<double> seconds;
    // After the 1st, the 10th (or the last when fewer) and the last drop,
    // each taken at the same point of its cycle; and the range over all.
    double rssFirst = 0, rssTenth = 0, rssLast = 0, rssMin = 0, rssMax = 0;
};

struct Setup
{
    std::unique_ptr<devicesim::Device> device;
    devicesim::Protocols protocols;
    std::unique_ptr<QWidget> top;
    std::unique_ptr<Preview> preview;
};

bool setUp(Setup &s, bool d3d, const Clip &clip, const QString &clips)
{
    s.device = std::make_unique<devicesim::Device>();
    s.device->setCredentials(QStringLiteral("admin"), QStringLiteral("1234"));
    s.protocols = devicesim::installProtocols(*s.device, clips);
    if (clip.colour) {
        devicesim::LiveStream::Options options = s.protocols.live->options();
        options.colour = QStringLiteral("red");
        s.protocols.live->setOptions(options);
    }
    if (!s.device->start(QHostAddress(QHostAddress::LocalHost), 0))
        return false;
    if (!clip.colour)
        s.protocols.live->switchClip(0, QString::fromLatin1(clip.file), 1920, 1080);
    s.top = std::make_unique<QWidget>();
    s.top->setGeometry(0, 0, 700, 400);
    s.top->show();
    waitMs(200);
    s.preview = std::make_unique<Preview>(d3d, s.top.get(), s.device->port());
    return waitFor([&] { return s.preview->presented() > 0; }, 15000);
}

Steady measureSteady(Setup &s, int warmupS, int measureS)
{
    Steady r;
    waitMs(warmupS * 1000);
    const int generation = s.preview->generation();
    const qint64 presented0 = s.preview->presented();
    const qint64 dropped0 = s.preview->dropped();
    const double render0 = s.preview->renderNs();
    const std::map<QString, double> cpu0 = cpuByThread();
    QElapsedTimer t;
    t.start();
    waitMs(measureS * 1000);
    const double seconds = t.nsecsElapsed() / 1e9;
    const std::map<QString, double> cpu1 = cpuByThread();
    // A reconnection in the window would mix two renderers' counters.
    if (s.preview->generation() != generation)
        return r;
    const qint64 presented = s.preview->presented() - presented0;
    const qint64 dropped = s.preview->dropped() - dropped0;
    r.fps = presented / seconds;
    r.droppedPercent = presented + dropped > 0 ? 100.0 * double(dropped) / double(presented + dropped) : 0;
    r.renderMs = presented > 0 ? (s.preview->renderNs() - render0) / 1e6 / double(presented) : 0;
    for (const auto &kv : cpu1) {
        auto before = cpu0.find(kv.first);
        r.cpuPercent[kv.first] = (kv.second - (before == cpu0.end() ? 0 : before->second)) / seconds * 100.0;
    }
    r.rss = rssMiB();
    r.ok = true;
    return r;
}

// Forced drops: from each drop to the first picture on the rebuilt widget.
Reconnect measureReconnects(Setup &s, int drops)
{
    Reconnect r;
    for (int i = 0; i < drops; ++i) {
        const int generation = s.preview->generation();
        QElapsedTimer t;
        t.start();
        s.protocols.live->closeConnections(0);
        if (waitFor([&] { return s.preview->generation() > generation && s.preview->presented() > 0; }, 10000))
            r.seconds.push_back(t.nsecsElapsed() / 1e9);
        else
            r.seconds.push_back(-1);
        waitMs(300);
        const double rss = rssMiB();
        if (i == 0)
            r.rssFirst = r.rssMin = r.rssMax = rss;
        if (i < 10)
            r.rssTenth = rss;
        r.rssLast = rss;
        r.rssMin = std::min(r.rssMin, rss);
        r.rssMax = std::max(r.rssMax, rss);
    }
    return r;
}

// The named threads' share of one core; the rest of the process as "other".
QString cpuColumns(const std::map<QString, double> &cpu)
{
    static const char *const kNamed[] = {"gui", "preview-player", "preview-stream", "d3drender"};
    double named = 0, all = 0;
    QString out;
    for (const char *name : kNamed) {
        auto it = cpu.find(QLatin1String(name));
        const double v = it == cpu.end() ? 0 : it->second;
        named += v;
        out += QString::asprintf(" %8.1f", v);
    }
    for (const auto &kv : cpu)
        all += kv.second;
    return out + QString::asprintf(" %8.1f", all - named);
}

} // namespace

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QSurfaceFormat format;
    format.setDepthBufferSize(24);
    format.setRenderableType(QSurfaceFormat::OpenGL);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    QStringList renderers{QStringLiteral("d3d"), QStringLiteral("yuv")};
    QStringList clipNames{QStringLiteral("main720"), QStringLiteral("main1080")};
    QString clips;
    int warmup = 5, measure = 20, runs = 3, drops = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &k = args[i];
        const QString &v = args[i + 1];
        if (k == QLatin1String("--renderer"))
            renderers = v.split(QLatin1Char(','));
        else if (k == QLatin1String("--clip"))
            clipNames = v.split(QLatin1Char(','));
        else if (k == QLatin1String("--clips"))
            clips = v;
        else if (k == QLatin1String("--warmup-s"))
            warmup = qMax(0, v.toInt());
        else if (k == QLatin1String("--measure-s"))
            measure = qMax(1, v.toInt());
        else if (k == QLatin1String("--runs"))
            runs = qMax(1, v.toInt());
        else if (k == QLatin1String("--drops"))
            drops = qMax(1, v.toInt());
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(k));
            return 2;
        }
    }
    QTemporaryDir made;
    if (!makeBenchClips(ARDO_MAKE_CLIPS, &clips, made))
        return 1;
    std::printf("preview, %ld cores, %s, warm-up %d s, measured %d s, median of %d runs, %d forced drops\n",
                sysconf(_SC_NPROCESSORS_ONLN), qPrintable(QGuiApplication::platformName()), warmup, measure, runs,
                drops);
    std::printf("cpu: %% of one core per thread (gui, player, stream client, Direct3D render thread, the rest of "
                "the process with the device); render ms: render-thread wall time per present\n");
    std::printf("%-4s %-9s %9s %7s %8s %8s %8s %8s %8s %7s %9s %9s %9s %8s %8s %8s %8s %8s %11s\n", "path", "clip",
                "pics/s", "drop%", "gui%", "player%", "stream%", "render%", "other%", "RSS MB", "render ms", "sws ref",
                "dec ref", "recon p50", "recon max", "RSS 1st", "RSS 10th", "RSS last", "RSS range");
    for (const QString &clipName : clipNames) {
        const Clip *clip = nullptr;
        for (const Clip &c : kClips)
            if (clipName == QLatin1String(c.name))
                clip = &c;
        if (!clip) {
            std::fprintf(stderr, "unknown clip %s\n", qPrintable(clipName));
            return 2;
        }
        QFile file(clips + QLatin1Char('/') + QLatin1String(clip->file));
        file.open(QIODevice::ReadOnly);
        int pw = 0, ph = 0;
        double decodeCpu = 0;
        const double decodeRef = referenceDecodeMs(file.readAll(), &pw, &ph, &decodeCpu);
        for (const QString &renderer : renderers) {
            const bool d3d = renderer == QLatin1String("d3d");
            const QSize view = d3d ? kD3DSize : kYuvSize;
            double paced = 0;
            const double scaleRef = referenceScaleMs(pw, ph, view.width(), view.height(), kFrameGapMs, &paced);
            std::vector<Steady> results;
            Reconnect reconnect;
            for (int run = 0; run < runs; ++run) {
                Setup s;
                if (!setUp(s, d3d, *clip, clips)) {
                    std::fprintf(stderr, "%s %s: no picture\n", qPrintable(renderer), clip->name);
                    continue;
                }
                Steady r = measureSteady(s, warmup, measure);
                if (r.ok)
                    results.push_back(r);
                if (run == runs - 1)
                    reconnect = measureReconnects(s, drops);
            }
            if (results.empty()) {
                std::printf("%-4s %-9s failed\n", qPrintable(renderer), clip->name);
                continue;
            }
            auto med = [&](double Steady::*m) { return medianOf(results, m); };
            std::map<QString, double> cpu;
            for (const Steady &r : results)
                for (const auto &kv : r.cpuPercent)
                    cpu[kv.first] += kv.second / double(results.size());
            const QString cpuText = cpuColumns(cpu);
            bool failed = false;
            for (double t : reconnect.seconds)
                failed |= t < 0;
            const double reconMax =
                reconnect.seconds.empty() ? 0 : *std::max_element(reconnect.seconds.begin(), reconnect.seconds.end());
            std::printf(
                "%-4s %-9s %9.1f %7.2f%s %7.0f %9.3f %9.3f %9.3f %8.2f %7.2f%s %8.1f %8.1f %8.1f %5.0f-%-5.0f\n",
                qPrintable(renderer), clip->name, med(&Steady::fps), med(&Steady::droppedPercent), qPrintable(cpuText),
                med(&Steady::rss), d3d ? med(&Steady::renderMs) : 0.0, scaleRef, decodeRef, median(reconnect.seconds),
                reconMax, failed ? "!" : " ", reconnect.rssFirst, reconnect.rssTenth, reconnect.rssLast,
                reconnect.rssMin, reconnect.rssMax);
            std::fflush(stdout);
        }
    }
    std::printf("sws ref: one sws_scale pass YUV420P -> BGR0 from the clip's size to the preview's; dec ref: bare "
                "libavcodec, one thread, ms per frame; recon: seconds from a forced drop to the next picture "
                "presented (! marks a drop with no picture within 10 s); RSS after a drop's first picture and "
                "300 ms: from one drop to the next it may swing by a dozen MB where glibc placed the multi-MB "
                "picture buffers (its mmap threshold rises with the first large block freed), so read the trend "
                "of 1st, 10th and last and the range, not one pair\n");
    return 0;
}
