// Four views of four loopback devices in a 2x2 window, end to end: devices,
// stream service, camera glue, player and renderer, read back from the X
// server's pixels.

#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/cd3dwndrender.h"
#include "media/qccamerautil.h"
#include "media/qcframebuffer.h"
#include "media/qcstreamserver.h"
#include "platform/d3d9/d3d9diag.h"

#include <QApplication>
#include <QGridLayout>
#include <QImage>
#include <QThread>
#include <QWidget>
#include <QtTest>

// X11 last: its macros clash with Qt names.
#include "tests/support/xpixels.h"

#include <array>
#include <memory>

namespace {

struct Colour
{
    const char *name;
    QColor rgb;
};
// ffmpeg's colour names: green is half intensity.
const Colour kColours[] = {{"red", QColor(255, 0, 0)},
                           {"green", QColor(0, 128, 0)},
                           {"blue", QColor(0, 0, 255)},
                           {"yellow", QColor(255, 255, 0)}};
const QStringList kAddresses = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};

using testsupport::PresentCounter;

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return testsupport::nearColour(a, b, tolerance);
}

} // namespace

class TestLive4Views : public QObject
{
    Q_OBJECT

    struct Sim
    {
        std::unique_ptr<devicesim::Device> device;
        devicesim::Protocols protocols;
    };
    std::vector<Sim> m_sims;
    QThread m_serviceThread;
    qcStreamServer *m_server = nullptr;
    Display *m_display = nullptr;
    QWidget m_top;
    std::array<QWidget *, 4> m_videos{};
    std::array<std::unique_ptr<qcCameraUtil>, 4> m_glues;

    // What the X server shows in a widget's area.
    QImage grab(QWidget *w) { return testsupport::grabX(m_display, Window(w->winId()), w->rect()); }
    QImage grabView(int i) { return grab(m_videos[i]); }

    bool mediaInfo(const QString &ip, int stream, MediaInfo_t *out)
    {
        qcStreamServer::VideoInfo video{};
        qcStreamServer::AudioInfo audio{};
        quint8 decoder = 0;
        if (!m_server->getStreamInfo(ip, stream, &video, &audio, &decoder) || video.codec == 0)
            return false;
        *out = MediaInfo_t{decoder,         video.codec, video.width,      video.height,
                           video.frameRate, audio.codec, audio.sampleRate, audio.channels};
        return true;
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        QVERIFY2(QFile::exists(qEnvironmentVariable("ARDO_CLIPS_DIR") + "/colour-red-main.h264"),
                 "the clips fixture has not run");
        m_display = XOpenDisplay(nullptr);
        QVERIFY(m_display);
        PresentCounter::install();

        for (int i = 0; i < 4; ++i) {
            Sim sim;
            sim.device = std::make_unique<devicesim::Device>();
            sim.device->setCredentials("admin", "1234");
            sim.protocols = devicesim::installProtocols(*sim.device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
            devicesim::LiveStream::Options o = sim.protocols.live->options();
            o.colour = QString::fromLatin1(kColours[i].name);
            sim.protocols.live->setOptions(o);
            QVERIFY(sim.device->start(QHostAddress(kAddresses[i]), 0));
            m_sims.push_back(std::move(sim));
        }
        m_server = new qcStreamServer;
        m_server->moveToThread(&m_serviceThread);
        m_serviceThread.start();
        for (int i = 0; i < 4; ++i)
            QVERIFY(m_server->addDevice(kAddresses[i], QString::number(m_sims[i].device->port()),
                                        "cam " + kAddresses[i], "admin", "1234", "VARAR", i + 1) > 0);

        auto *grid = new QGridLayout(&m_top);
        grid->setSpacing(2);
        grid->setContentsMargins(0, 0, 0, 0);
        for (int i = 0; i < 4; ++i) {
            m_videos[i] = new QWidget(&m_top);
            m_videos[i]->setStyleSheet("background:#303030;");
            grid->addWidget(m_videos[i], i / 2, i % 2);
        }
        m_top.resize(802, 602);
        m_top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_top));
    }

    void eachViewShowsItsDevice()
    {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 4; ++i) {
            const QString ip = kAddresses[i];
            MediaInfo_t mainInfo{}, subInfo{};
            QTRY_VERIFY_WITH_TIMEOUT(m_server->getMainFrameBuffer(ip) && m_server->getSubFrameBuffer(ip) &&
                                         mediaInfo(ip, 0, &mainInfo) && mediaInfo(ip, 1, &subInfo),
                                     20000);
            QCOMPARE(mainInfo.width, 1280);
            m_glues[i] = std::make_unique<qcCameraUtil>();
            qcCameraUtil &glue = *m_glues[i];
            QVERIFY(glue.setMainSubBuffers(m_server->getMainFrameBuffer(ip), m_server->getSubFrameBuffer(ip)));
            glue.setVideoWidget(m_videos[i]);
            glue.setStreamInfo(mainInfo, subInfo);
            QVERIFY(glue.startStream(0));
        }
        qInfo() << "four views started" << timer.elapsed() << "ms after the devices were added";
        timer.restart();

        for (int i = 0; i < 4; ++i) {
            // The bar may cross the centre; a later read shows the colour.
            QColor seen;
            QTRY_VERIFY2_WITH_TIMEOUT(
                [&] {
                    const QImage img = grabView(i);
                    seen = img.isNull() ? QColor() : img.pixelColor(img.width() / 2, img.height() / 2);
                    return near(seen, kColours[i].rgb, 30);
                }(),
                qPrintable(QStringLiteral("%1: centre is %2").arg(kColours[i].name, seen.name())), 30000);
        }
        qInfo() << "all four colours on screen after" << timer.elapsed() << "ms";

        // The bar moves: a row through the picture changes within 200 ms.
        for (int i = 0; i < 4; ++i) {
            int changed = 0;
            QElapsedTimer deadline;
            deadline.start();
            while (changed < 10 && deadline.elapsed() < 20000) {
                const QImage a = grabView(i);
                QTest::qWait(200);
                const QImage b = grabView(i);
                changed = 0;
                if (a.isNull() || b.isNull() || a.size() != b.size())
                    continue;
                const int y = a.height() / 2;
                for (int x = 0; x < a.width(); ++x)
                    changed += !near(a.pixelColor(x, y), b.pixelColor(x, y), 40);
            }
            QVERIFY2(changed >= 10,
                     qPrintable(QStringLiteral("%1: %2 pixels changed").arg(kColours[i].name).arg(changed)));
        }

        const QString png = QCoreApplication::applicationDirPath() + "/live-4views.png";
        QVERIFY(grab(&m_top).save(png));
        qInfo().noquote() << "wrote" << png;
    }

    void newStreamFormatAfterRefresh()
    {
        if (!m_glues[1])
            QSKIP("the views did not start");
        const QString ip = kAddresses[1];
        m_sims[1].protocols.live->switchClip(0, "h264-240p25.h264", 320, 240);
        MediaInfo_t mainInfo{}, subInfo{};
        QTRY_VERIFY_WITH_TIMEOUT(mediaInfo(ip, 0, &mainInfo) && mainInfo.width == 320 && mediaInfo(ip, 1, &subInfo),
                                 30000);
        QCOMPARE(mainInfo.height, 240);
        m_glues[1]->setStreamInfo(mainInfo, subInfo);
        m_glues[1]->refresh();
        const HWND window = HWND(m_glues[1]->renderSurface()->winId());
        const int before = PresentCounter::on(window);
        QTRY_VERIFY_WITH_TIMEOUT(PresentCounter::on(window) >= before + 10, 30000);
        // The new pictures are the test pattern, not the old colour.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QImage img = grabView(1);
                return !near(img.pixelColor(img.width() / 2, img.height() / 2), kColours[1].rgb, 30);
            }(),
            30000);
    }

    void noVideoTurnsTheViewBlack()
    {
        if (!m_glues[2])
            QSKIP("the views did not start");
        m_glues[2]->onPlayState(6);
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::blackWithText(grabView(2)), 30000);
        // The neighbours keep playing.
        const QImage img = grabView(3);
        QVERIFY(!img.isNull());
    }

    void cleanupTestCase()
    {
        for (auto &g : m_glues) {
            if (g)
                g->stopStream();
            g.reset();
        }
        if (m_server) {
            QMetaObject::invokeMethod(m_server, "shutdown", Qt::BlockingQueuedConnection);
            m_serviceThread.quit();
            QVERIFY(m_serviceThread.wait(10000));
            delete m_server;
            m_server = nullptr;
        }
        m_sims.clear();
        PresentCounter::uninstall();
        if (m_display)
            XCloseDisplay(m_display);
    }
};

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    TestLive4Views t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_live4views.moc"
