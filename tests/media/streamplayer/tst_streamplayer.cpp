// The preview's stream player against the loopback device: one main-stream
// connection, the picture size per stream information, the reopen cycle,
// stopping for good, and the Direct3D drawing into native windows (read back
// from the X server).

#include "announcedsizes.h"

#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/cd3drender.h"
#include "media/cliveplayer.h"
#include "media/qcstreamplayer.h"
#include "tests/support/loopback.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QtTest>

// Xlib's macros last: they clash with Qt's names.
#include "tests/support/xpixels.h"

namespace {

// A bound for the first picture's size, not a speed: a machine busy with a
// parallel build can take well over five seconds to connect and decode.
constexpr int kFirstPictureMs = 30000;

QList<devicesim::LoggedRequest> streamGets(const devicesim::Device &device)
{
    QList<devicesim::LoggedRequest> out;
    for (const devicesim::LoggedRequest &r : device.requests()) {
        if (r.path == "/action/stream")
            out << r;
    }
    return out;
}

// Connections the device holds open now.
int openConnections(const devicesim::Device &device)
{
    int n = 0;
    for (const devicesim::ConnectionEvent &e : device.connectionLog())
        n += e.open ? 1 : -1;
    return n;
}

std::atomic<int> g_decoderErrors{0};

void countDecoderErrors(void *avcl, int level, const char *format, va_list args)
{
    if (level <= AV_LOG_ERROR)
        ++g_decoderErrors;
    av_log_default_callback(avcl, level, format, args);
}

int presents(QWidget *w)
{
    return testsupport::PresentCounter::on(HWND(w->winId()));
}

// A native child filling a shown top-level window.
struct Host
{
    QWidget top;
    Host()
    {
        top.resize(400, 300);
        top.show();
    }
    QWidget *child()
    {
        auto *w = new QWidget(&top);
        w->setGeometry(top.rect());
        w->show();
        return w;
    }
};

} // namespace

class StreamPlayerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<devicesim::Device> m_device;
    devicesim::Protocols m_protocols;
    QString m_clips;

    std::unique_ptr<qcStreamPlayer> player(int kind = 6, const QString &port = QString())
    {
        return std::make_unique<qcStreamPlayer>(
            nullptr, "127.0.0.1", port.isEmpty() ? QString::number(m_device->port()) : port, "admin", "1234", kind);
    }

private slots:
    void initTestCase()
    {
        m_clips = qEnvironmentVariable("ARDO_CLIPS_DIR");
        QVERIFY2(QFile::exists(m_clips + "/colour-red-main.h264"), "the clips fixture has not run");
        testsupport::PresentCounter::install();
    }
    void init()
    {
        m_device = std::make_unique<devicesim::Device>();
        m_device->setCredentials("admin", "1234");
        m_protocols = devicesim::installProtocols(*m_device, m_clips);
        devicesim::LiveStream::Options o = m_protocols.live->options();
        o.colour = "red";
        m_protocols.live->setOptions(o);
        QVERIFY(m_device->start());
    }
    void cleanup()
    {
        m_protocols = {};
        m_device.reset();
    }
    void cleanupTestCase() { testsupport::PresentCounter::uninstall(); }

    // The main stream whatever the kind, and its size with each description.
    void opensTheMainStream()
    {
        auto p = player(7);
        mediatest::AnnouncedSizes ratio(p.get());
        QVERIFY(p->openStream());
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        QCOMPARE(ratio.sizes.takeFirst(), QSize(1280, 720));
        QCOMPARE(streamGets(*m_device).size(), 1);
        QCOMPARE(streamGets(*m_device).at(0).key, QStringLiteral("liveplay&stream=0"));
        QCOMPARE(p->streamWidth(), 1280);
        QVERIFY(p->livePlayer());
        m_protocols.live->switchClip(0, "colour-red-sub.h264", 640, 360);
        QTRY_COMPARE(ratio.sizes.size(), 1);
        QCOMPARE(ratio.sizes.takeFirst(), QSize(640, 360));
        QCOMPARE(p->streamHeight(), 360);
    }

    // Sizes no renderer can take are not announced.
    void impossibleSizes_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("0 x 0") << 0 << 0;
        QTest::newRow("8001 x 600") << 8001 << 600;
    }
    void impossibleSizes()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        auto p = player();
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        m_protocols.live->switchClip(0, "colour-red-sub.h264", width, height);
        m_protocols.live->switchClip(0, "colour-red-sub.h264", 640, 360);
        QTRY_COMPARE(ratio.sizes.size(), 2);
        QCOMPARE(ratio.sizes.last(), QSize(640, 360));
    }

    // A broken stream is opened again after 800 ms, again and again.
    void reopens()
    {
        auto p = player();
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        for (int cycle = 1; cycle <= 3; ++cycle) {
            const QDateTime dropped = QDateTime::currentDateTime();
            m_protocols.live->closeConnections(0);
            QTRY_COMPARE_WITH_TIMEOUT(streamGets(*m_device).size(), cycle + 1, 5000);
            QVERIFY(streamGets(*m_device).last().arrival >= dropped.addMSecs(qcStreamPlayer::kReopenMs - 50));
            QTRY_COMPARE_WITH_TIMEOUT(ratio.sizes.size(), cycle + 1, 5000);
        }
    }

    // Each failed attempt is replaced by a new client after the pause; the
    // old ones end, so threads do not pile up.
    void closedPortCycles()
    {
        const auto threads = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
        auto p = player(6, QString::number(testsupport::closedPort()));
        mediatest::AnnouncedSizes ratio(p.get());
        const int before = threads();
        p->openStream();
        QTest::qWait(5 * qcStreamPlayer::kReopenMs);
        QVERIFY2(threads() <= before + 3, qPrintable(QString::number(threads() - before)));
        QVERIFY(ratio.sizes.isEmpty());
        QVERIFY(p->stopPlay());
        QVERIFY(!p->livePlayer());
    }

    // Once stopped, nothing reopens: not a pending timer, not a late status.
    void stopIsFinal()
    {
        auto p = player();
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        m_protocols.live->closeConnections(0);
        QTRY_VERIFY_WITH_TIMEOUT(p->livePlayer() == nullptr, 3000); // the status came: the timer runs
        p->OnStreamStatus(131);                                     // not from the current client: ignored
        QVERIFY(p->stopPlay());
        QTest::qWait(2000);
        QCOMPARE(streamGets(*m_device).size(), 1);
        QCOMPARE(ratio.sizes.size(), 1);
    }

    // A stop while pictures flow ends every thread of the player.
    void stopWhileFlowing()
    {
        devicesim::LiveStream::Options o = m_protocols.live->options();
        o.pacing = devicesim::LiveStream::Pacing::MaxRate;
        m_protocols.live->setOptions(o);
        auto p = player();
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        QVERIFY(p->stopPlay());
        QVERIFY(!p->livePlayer());
        QTRY_COMPARE(openConnections(*m_device), 0);
    }

    // Drawing that starts a while after the stream, as a page's does: the
    // decoder starts at the stream's first key picture, kept meanwhile, and
    // never sees a picture whose key picture it missed.
    void startsAtTheFirstKeyPicture()
    {
        Host host;
        QVERIFY(QTest::qWaitForWindowExposed(&host.top));
        std::atomic<int> sent{0};
        devicesim::LiveStream::Options o = m_protocols.live->options();
        o.sendLog = [&sent](int, int, qint64) { ++sent; };
        m_protocols.live->setOptions(o);
        g_decoderErrors = 0;
        av_log_set_callback(countDecoderErrors);
        auto p = player();
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, 5000));
        QTRY_VERIFY(sent >= 8);
        p->startPlay(host.child());
        QTRY_VERIFY_WITH_TIMEOUT(p->livePlayer()->picturesDecoded() >= 8, 5000);
        p->stopPlay();
        o.sendLog = nullptr;
        m_protocols.live->setOptions(o);
        av_log_set_callback(av_log_default_callback);
        QCOMPARE(g_decoderErrors.load(), 0);
    }

    // The picture through Direct3D into a native child; a second call moves
    // it to a new window while the player thread goes on.
    void startPlay()
    {
        Host host;
        QVERIFY(QTest::qWaitForWindowExposed(&host.top));
        auto p = player();
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        QWidget *first = host.child();
        p->startPlay(first);
        QVERIFY(p->d3dRender());
        Display *display = XOpenDisplay(nullptr);
        QVERIFY(display);
        const auto centre = [&](QWidget *w) {
            return testsupport::pixelAt(display, HWND(w->winId()), w->width() / 2, w->height() / 2);
        };
        QTRY_VERIFY_WITH_TIMEOUT(centre(first).red() > 150 && centre(first).green() < 100, 5000);
        XCloseDisplay(display);

        CLivePlayer *running = p->livePlayer();
        QWidget *second = host.child();
        p->startPlay(second);
        delete first;
        QTRY_VERIFY_WITH_TIMEOUT(presents(second) > 5, 5000);
        QCOMPARE(p->livePlayer(), running);
        QVERIFY(running->isRunning());
    }

    // The drawing window replaced again and again, as a page does on each
    // description: no renderer or window is used after it went, and pictures
    // go on on the last one. At full rate the player's input queue holds
    // half a minute of the old size, so the new size comes at the clip's pace.
    void replaceD3DSurfaces_data()
    {
        QTest::addColumn<bool>("fullRate");
        QTest::addColumn<bool>("newSize");
        QTest::newRow("full rate") << true << false;
        QTest::newRow("new size on the open connection") << false << true;
    }
    void replaceD3DSurfaces()
    {
        QFETCH(bool, fullRate);
        QFETCH(bool, newSize);
        if (fullRate) {
            devicesim::LiveStream::Options o = m_protocols.live->options();
            o.pacing = devicesim::LiveStream::Pacing::MaxRate;
            m_protocols.live->setOptions(o);
        }
        Host host;
        auto p = player();
        QPointer<QWidget> surface;
        const auto replace = [&] {
            p->releaseRender();
            delete surface;
            surface = host.child();
            p->startPlay(surface);
        };
        connect(p.get(), &qcStreamPlayer::sigVideoratio, p.get(), replace);
        mediatest::AnnouncedSizes ratio(p.get());
        p->openStream();
        QVERIFY(ratio.waitFor(1, kFirstPictureMs));
        QTRY_VERIFY_WITH_TIMEOUT(surface && presents(surface) > 0, 5000);
        for (int i = 0; i < 50; ++i) {
            replace();
            QTest::qWait(i % 10); // sometimes with pictures in flight
        }
        if (newSize) {
            m_protocols.live->switchClip(0, "colour-red-sub.h264", 640, 360);
            QTRY_VERIFY_WITH_TIMEOUT(ratio.sizes.size() >= 2, 5000);
            QCOMPARE(p->streamWidth(), 640);
        }
        // A stream information arriving meanwhile replaces the surface again:
        // the pictures must come on whichever is the newest.
        QTRY_VERIFY_WITH_TIMEOUT(surface && presents(surface) > 5, 5000);
        QVERIFY(p->d3dRender()->picturesPresented() > 0);
    }
};

int main(int argc, char **argv)
{
    // The render threads talk to the X server beside the GUI thread.
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    StreamPlayerTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_streamplayer.moc"
