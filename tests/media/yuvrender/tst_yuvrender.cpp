// The preview's OpenGL picture widget: where the picture lies, its colours,
// its buffer's bounds, and pictures coming from a device through the
// stream player.

#include "announcedsizes.h"

#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/cliveplayer.h"
#include "media/cyuvrender.h"
#include "tests/support/gltest.h"
#include "media/qcstreamplayer.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

namespace {

std::vector<uint8_t> solid(int w, int h, uint8_t y, uint8_t u, uint8_t v)
{
    std::vector<uint8_t> p(size_t(w) * size_t(h) * 3 / 2, y);
    std::fill(p.begin() + w * h, p.begin() + w * h * 5 / 4, u);
    std::fill(p.begin() + w * h * 5 / 4, p.end(), v);
    return p;
}

bool near(QRgb c, int r, int g, int b, int tolerance)
{
    return qAbs(qRed(c) - r) <= tolerance && qAbs(qGreen(c) - g) <= tolerance && qAbs(qBlue(c) - b) <= tolerance;
}

} // namespace

class YuvRenderTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<CYuvRender> shown(int w, int h, QSize size = QSize(400, 400))
    {
        auto r = std::make_unique<CYuvRender>(nullptr, w, h);
        r->resize(size);
        r->show();
        if (!QTest::qWaitForWindowExposed(r.get()))
            return nullptr;
        return r;
    }

private slots:
    void viewport_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("6 keeps 16:9") << 6 << QRect(QPoint(0, 87), QPoint(399, 311));
        QTest::newRow("7 fits 16:9") << 7 << QRect(QPoint(0, 87), QPoint(399, 311));
        QTest::newRow("8 fits 4:3") << 8 << QRect(QPoint(0, 50), QPoint(399, 349));
        QTest::newRow("9 stretches") << 9 << QRect(0, 0, 400, 400);
    }
    void viewport()
    {
        QFETCH(int, mode);
        QFETCH(QRect, rect);
        CYuvRender r(nullptr, 640, 360);
        r.resize(400, 400);
        QCOMPARE(r.setDisplayMode(mode), mode);
        QCOMPARE(r.viewportRect(), rect);
        QCOMPARE(r.setDisplayMode(5), mode);
        QCOMPARE(r.setDisplayMode(10), mode);
    }

    // Exactly the widget's own size, nothing else; none without a size.
    void frameSizes()
    {
        CYuvRender r(nullptr, 64, 32);
        const std::vector<uint8_t> p = solid(64, 33, 1, 2, 3);
        QVERIFY(r.setFrameData(p.data(), 64 * 32 * 3 / 2));
        QVERIFY(!r.setFrameData(p.data(), 64 * 32 * 3 / 2 - 1));
        QVERIFY(!r.setFrameData(p.data(), 64 * 32 * 3 / 2 + 1));
        CYuvRender none(nullptr, 64, 0);
        QVERIFY(!none.setFrameData(p.data(), 0));
    }

    // Limited-range red as red, on every paint, and nothing before or after.
    void colours()
    {
        auto r = shown(64, 36);
        QVERIFY(r);
        r->setDisplayMode(CYuvRender::Stretch);
        QVERIFY(near(r->grabFramebuffer().pixel(200, 200), 0, 0, 0, 2));
        const std::vector<uint8_t> red = solid(64, 36, 81, 90, 240);
        QVERIFY(r->setFrameData(red.data(), qint64(red.size())));
        for (int grab = 0; grab < 2; ++grab) {
            const QRgb c = r->grabFramebuffer().pixel(200, 200);
            QVERIFY2(near(c, 255, 0, 0, 3), qPrintable(QColor(c).name()));
        }
        r->setDisplayMode(CYuvRender::KeepAspect);
        QVERIFY(near(r->grabFramebuffer().pixel(200, 10), 0, 0, 0, 2)); // the bars keep the clear colour
        r->setActive(false);
        QVERIFY(near(r->grabFramebuffer().pixel(200, 200), 0, 0, 0, 2));
    }

    // A writer thread against repaints: the buffer is shared under a lock.
    void writerWhileRepainting()
    {
        auto r = shown(320, 180);
        QVERIFY(r);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            const std::vector<uint8_t> p = solid(320, 180, 81, 90, 240);
            for (int i = 0; i < 1000; ++i)
                r->setFrameData(p.data(), qint64(p.size()));
            done = true;
        });
        while (!done) {
            r->update();
            QCoreApplication::processEvents();
        }
        writer.join();
        QVERIFY(near(r->grabFramebuffer().pixel(200, 200), 255, 0, 0, 3));
    }

    // Through a stream player: red pictures, also after the stream grew on
    // its open connection and the page replaced the widget.
    void fromADevice()
    {
        const QString clips = qEnvironmentVariable("ARDO_CLIPS_DIR");
        devicesim::Device device;
        device.setCredentials("admin", "1234");
        devicesim::Protocols protocols = devicesim::installProtocols(device, clips);
        devicesim::LiveStream::Options o = protocols.live->options();
        o.colour = "red";
        protocols.live->setOptions(o);
        QVERIFY(device.start());
        qcStreamPlayer player(nullptr, "127.0.0.1", QString::number(device.port()), "admin", "1234", 6);
        std::unique_ptr<CYuvRender> widget;
        connect(&player, &qcStreamPlayer::sigVideoratio, this, [&](int w, int h) {
            player.releaseRender();
            widget.reset(new CYuvRender(nullptr, w, h));
            widget->resize(320, 180);
            widget->setDisplayMode(CYuvRender::Stretch);
            widget->show();
            player.startYuvPlay(widget.get());
        });
        QVERIFY(player.openStream());
        QTRY_VERIFY_WITH_TIMEOUT(widget && widget->picturesPainted() > 0, 10000);
        QTRY_VERIFY(qRed(widget->grabFramebuffer().pixel(300, 90)) > 150);
        protocols.live->switchClip(0, "h264-1080p25.h264", 1920, 1080);
        QTRY_COMPARE_WITH_TIMEOUT(widget->pictureWidth(), 1920, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(widget->picturesPainted() > 0, 10000);
        player.stopPlay();
        protocols = {};
    }

    // Widgets replaced one after another under a stream at full rate: each
    // goes only after the player let go of it.
    void replacedUnderAFullStream()
    {
        const QString clips = qEnvironmentVariable("ARDO_CLIPS_DIR");
        devicesim::Device device;
        device.setCredentials("admin", "1234");
        devicesim::Protocols protocols = devicesim::installProtocols(device, clips);
        devicesim::LiveStream::Options o = protocols.live->options();
        o.colour = "red";
        o.pacing = devicesim::LiveStream::Pacing::MaxRate;
        protocols.live->setOptions(o);
        QVERIFY(device.start());
        qcStreamPlayer player(nullptr, "127.0.0.1", QString::number(device.port()), "admin", "1234", 6);
        mediatest::AnnouncedSizes ratio(&player);
        QVERIFY(player.openStream());
        // A bound, not a speed: a loaded machine takes long to connect.
        QVERIFY(ratio.waitFor(1, 30000));
        std::unique_ptr<CYuvRender> widget;
        for (int i = 0; i < 50; ++i) {
            player.releaseRender();
            widget.reset(new CYuvRender(nullptr, player.streamWidth(), player.streamHeight()));
            widget->resize(160, 90);
            widget->show();
            player.startYuvPlay(widget.get());
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY_WITH_TIMEOUT(widget->picturesPainted() > 0, 10000);
        player.stopPlay();
        protocols = {};
    }

    // The preview's OpenGL widget switched off and on through its player:
    // it repaints without a new picture, blank while off, and on again it
    // stays blank (neither the old picture nor the green of a zeroed one)
    // until the next picture comes.
    void renderActiveLook()
    {
        auto r = shown(64, 36, QSize(200, 120));
        QVERIFY(r);
        CYuvRender &render = *r;
        render.setDisplayMode(CYuvRender::Stretch);
        CLivePlayer player;
        player.setRenderWidget(&render);
        player.start();
        const std::vector<uint8_t> red = solid(64, 36, 81, 90, 240);
        QVERIFY(render.setFrameData(red.data(), qint64(red.size())));
        const qint64 before = render.picturesPainted();
        player.setRenderActive(true);
        QTRY_VERIFY(render.picturesPainted() > before); // nobody but the player asked for it
        const auto centre = [&] { return QColor(render.grabFramebuffer().pixel(100, 60)); };
        QVERIFY(centre().red() > 150 && centre().green() < 100);

        QSignalSpy updates(&player, &CLivePlayer::sigRenderUpdate);
        player.setRenderActive(false);
        player.setRenderActive(true);
        QTRY_VERIFY(updates.count() >= 1);
        const qint64 painted = render.picturesPainted();
        QCOMPARE(centre(), QColor(Qt::black));
        QCOMPARE(render.picturesPainted(), painted);
        QVERIFY(render.setFrameData(red.data(), qint64(red.size())));
        QVERIFY(centre().red() > 150);
        player.stopLiveplay();
        player.wait();
    }
};

int main(int argc, char **argv)
{
    if (!testsupport::prepareGlSuite())
        return 1;
    QApplication app(argc, argv);
    YuvRenderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_yuvrender.moc"
