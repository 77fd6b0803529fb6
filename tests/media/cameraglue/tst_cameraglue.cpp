#include <QtTest>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QSignalSpy>
#include <QWidget>

#include "viewfixture.h"
#include "media/cd3dwndrender.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "platform/clock.h"
#include "tests/support/pictures.h"
#include "tests/support/systemlog.h"

#include <QTemporaryDir>

#include <cerrno>

namespace {

struct GlueView
{
    explicit GlueView(FakeDevice &device, QSize size = QSize(400, 400))
    {
        widget.resize(size);
        widget.show();
        attach(glue, device, &widget);
    }
    HWND window() const { return glue.renderSurface() ? HWND(glue.renderSurface()->winId()) : 0; }
    QWidget widget;
    qcCameraUtil glue;
};

void mouse(QWidget *w, QEvent::Type type, QPoint pos)
{
    QMouseEvent e(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

bool sameRect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

QString show(const RECT &r)
{
    return QStringLiteral("(%1, %2, %3, %4)").arg(r.left).arg(r.top).arg(r.right).arg(r.bottom);
}

} // namespace

class TestCameraGlue : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (clips::dir().isEmpty() || clips::read(QStringLiteral("h264-360p25.h264")).isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
        platform::d3d9::setPresentHook(onPresent);
        qcCameraUtil::initFfmpeg();
    }
    void cleanupTestCase() { platform::d3d9::setPresentHook(nullptr); }

    void startNeedsEverything()
    {
        FakeDevice device;
        {
            qcCameraUtil glue;
            QWidget w;
            QVERIFY(!glue.setMainSubBuffers(&device.mainBuffer, nullptr));
            glue.setVideoWidget(&w);
            glue.setStreamInfo(device.info, device.info);
            QVERIFY(!glue.startStream(0)); // no buffers
            QVERIFY(glue.setMainSubBuffers(&device.mainBuffer, &device.subBuffer));
            MediaInfo_t noFormat = device.info;
            noFormat.videoCodec = 0;
            glue.setStreamInfo(device.info, noFormat);
            QVERIFY(!glue.startStream(0)); // the sub stream never reported its format
            QVERIFY(!w.layout());          // nothing built
        }
        GlueView view(device);
        view.glue.onPlayState(6); // nothing built yet: no effect, no crash
        QVERIFY(!view.glue.startStream(2));
        QVERIFY(!view.glue.switchStream(1)); // nothing plays yet
        QCOMPARE(view.glue.getStreamType(), -1);
        QVERIFY(view.glue.startStream(0));
        QCOMPARE(view.glue.getStreamType(), 0);
        QVERIFY(!view.glue.startStream(1));
        QVERIFY(!view.glue.switchStream(0));
        QVERIFY(!view.glue.switchStream(-1));
        QCOMPARE(view.glue.getStreamType(), 0);
    }

    void picturesThroughStartSwitchRefreshAndRestart()
    {
        FakeDevice device;
        device.start();
        GlueView view(device);
        QVERIFY(view.glue.startStream(1));
        HWND w = view.window();
        QVERIFY(w);
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(w) >= 5, 10000);

        // A freed player's address may come back for the next one: ask
        // whether the first one is gone instead of comparing addresses.
        QPointer<CLivePlayer> first = view.glue.player();
        QVERIFY(view.glue.switchStream(0));
        QCOMPARE(view.glue.getStreamType(), 0);
        QVERIFY(first.isNull());
        QVERIFY(view.glue.player());
        int before = presentedOn(view.window());
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(view.window()) >= before + 5, 10000);

        view.glue.refresh();
        QCOMPARE(view.glue.getStreamType(), 0);
        before = presentedOn(view.window());
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(view.window()) >= before + 5, 10000);

        // Stopping removes the surface but keeps the panel; a later start
        // builds both again.
        view.glue.stopStream();
        QVERIFY(!view.glue.player());
        QVERIFY(!view.glue.renderSurface());
        QVERIFY(view.glue.noVideoWidget());
        QVERIFY(view.glue.startStream(1));
        QVERIFY(view.glue.renderSurface());
        QCOMPARE(view.widget.layout()->count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(view.window()) >= 5, 10000);
    }

    void snapshotNames_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("format");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("expected");
        const QDateTime t(QDate(2024, 3, 7), QTime(14, 5, 9, 123));
        QTest::newRow("identifier") << "ABCD1234" << 146 << t
                                    << "/r/20240307/ABCD1234/PICV1_MANUAL_ABCD1234_2024-03-07-14-05-09-0123.jpg";
        QTest::newRow("five parts") << "1.2.3.4.5" << 146 << t
                                    << "/r/20240307/1.2.3.4.5/PICV1_MANUAL_1.2.3.4.5_2024-03-07-14-05-09-0123.jpg";
        // ".." in a folder name could climb out of the root: no path at all.
        QTest::newRow("empty part") << "10..1.2" << 145 << t << "";
        QTest::newRow("bitmap, 7 ms") << "10.0.0.1" << 145 << QDateTime(QDate(2025, 12, 31), QTime(1, 2, 3, 7))
                                      << "/r/20251231/10.0.0.1/PICV1_MANUAL_10-0-0-1_2025-12-31-01-02-03-0007.bmp";
        QTest::newRow("unknown format") << "10.0.0.1" << 147 << t << "/r/20240307/10.0.0.1/";
    }
    void snapshotNames()
    {
        QFETCH(QString, ip);
        QFETCH(int, format);
        QFETCH(QDateTime, when);
        QFETCH(QString, expected);
        QCOMPARE(qcCameraUtil::snapshotPath(QStringLiteral("/r"), ip, format, when), expected);
    }
    // A snapshot with no picture to take is refused and told at once, and
    // leaves no file: the device delivers no video when it is asked for, or
    // stops before its picture came, or the view closes first; the next
    // picture stored ends what was told. A picture that comes late is named
    // by its own time, not by the click's.
    void snapshotWithoutPicture_data()
    {
        QTest::addColumn<QString>("event"); // what happens around the click
        QTest::newRow("no video at the click") << "no video";
        QTest::newRow("no video before the picture") << "no video after";
        QTest::newRow("view closed before the picture") << "closed";
        QTest::newRow("picture late") << "late";
    }
    void snapshotWithoutPicture()
    {
        QFETCH(QString, event);
        QTemporaryDir dir;
        const QString root = dir.path() + "/CaptureFile";
        const QString folder = root + "/20240307/10.0.0.5/";
        testsupport::SystemLog log;
        platform::FakeClock clock(QDateTime(QDate(2024, 3, 7), QTime(14, 5, 9, 123)));
        FakeDevice device; // no frames until it starts
        GlueView view(device);
        view.glue.setClock(&clock);
        QVERIFY(view.glue.startStream(0));
        QSignalSpy failed(&view.glue, SIGNAL(sigSnapshotFailed(int)));
        QVERIFY(failed.isValid());
        QSignalSpy stored(&view.glue, &qcCameraUtil::sigSnapshot);
        if (event == "no video")
            view.glue.onPlayState(6);
        QCOMPARE(view.glue.snapshot(root, "10.0.0.5"), event != "no video");
        if (event == "no video after")
            view.glue.onPlayState(6);
        if (event == "closed")
            view.glue.stopStream();
        QVERIFY(testsupport::filesUnder(dir.path(), "*").isEmpty());
        if (event == "late") {
            QCOMPARE(failed.count(), 0);
            clock.advance(15000);
            device.start();
            QTRY_COMPARE_WITH_TIMEOUT(stored.count(), 1, 10000);
            const QString file = folder + "PICV1_MANUAL_10-0-0-5_2024-03-07-14-05-24-0123.jpg";
            QCOMPARE(stored.at(0).at(1).toString(), file);
            QCOMPARE(QImage(file).size(), QSize(640, 360));
            QVERIFY(log.abnormal().isEmpty());
            return;
        }
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toInt(), ENODATA);

        // The device back, the lost snapshot brings no file, the next one its own.
        if (event == "closed")
            QVERIFY(view.glue.startStream(0));
        view.glue.onPlayState(5);
        device.start();
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(view.window()) >= 3, 10000);
        clock.advance(1000);
        QVERIFY(view.glue.snapshot(root, "10.0.0.5"));
        QTRY_COMPARE_WITH_TIMEOUT(stored.count(), 1, 10000);
        QCOMPARE(testsupport::filesUnder(dir.path(), "*"), QStringList{stored.at(0).at(1).toString()});
        QCOMPARE(failed.count(), 1);
        const QStringList events = log.abnormal();
        QCOMPARE(events.size(), 2);
        QVERIFY2(events.at(0).startsWith("snapshot failed|10.0.0.5|" + folder + "PICV1_MANUAL_10-0-0-5_") &&
                     events.at(0).contains("the camera delivers no picture"),
                 qPrintable(events.at(0)));
        QVERIFY2(events.at(1).startsWith("snapshot failure ended|10.0.0.5|"), qPrintable(events.at(1)));
    }

    void zoomSelection()
    {
        FakeDevice device;
        device.start();
        GlueView view(device); // 640x360 in 400x400: picture at (0, 87)-(400, 312)
        QVERIFY(view.glue.startStream(1));
        CD3DWndRender *render = view.glue.render();
        QTRY_VERIFY_WITH_TIMEOUT(sameRect(render->getSourceRect(), RECT{0, 87, 400, 312}), 10000);
        QSignalSpy result(&view.glue, &qcCameraUtil::sigZoomResult);
        QWidget *w = &view.widget;

        view.glue.setZoomEnabled(true);
        mouse(w, QEvent::MouseButtonPress, QPoint(200, 200));
        const struct
        {
            QPoint to;
            QRect expected;
        } drags[] = {
            {{300, 250}, QRect(QPoint(200, 200), QPoint(300, 250))},
            {{300, 150}, QRect(QPoint(200, 150), QPoint(300, 200))},
            {{100, 150}, QRect(QPoint(100, 150), QPoint(200, 200))},
            {{100, 250}, QRect(QPoint(100, 200), QPoint(200, 250))},
            {{200, 120}, QRect(QPoint(100, 200), QPoint(200, 250))}, // shared x keeps the last
            {{150, 200}, QRect(QPoint(100, 200), QPoint(200, 250))}, // shared y keeps the last
        };
        for (const auto &d : drags) {
            mouse(w, QEvent::MouseMove, d.to);
            QCOMPARE(view.glue.zoomRect(), d.expected);
        }

        // The outline is drawn onto the picture while selecting.
        mouse(w, QEvent::MouseMove, QPoint(300, 250));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QImage img = lastPresented(view.window());
                if (img.isNull())
                    return false;
                int red = 0;
                for (int x = 210; x < 290; ++x)
                    for (int y = 198; y <= 202; ++y) {
                        const QColor c = img.pixelColor(x, y);
                        red += c.red() > 180 && c.green() < 80 && c.blue() < 80;
                    }
                return red >= 70;
            }(),
            10000);

        // Release: sx = sy = 1.6 from (0, 87)-(400, 312).
        mouse(w, QEvent::MouseButtonRelease, QPoint(300, 250));
        QVERIFY(!view.glue.zoomSelecting());
        QCOMPARE(result.count(), 0);
        const RECT mapped{320, 180, 481, 261};
        QTRY_VERIFY2_WITH_TIMEOUT(sameRect(render->pictureRect(), mapped), qPrintable(show(render->pictureRect())),
                                  10000);

        // Turning zoom off shows the whole picture again.
        view.glue.setZoomEnabled(false);
        QTRY_VERIFY_WITH_TIMEOUT(sameRect(render->pictureRect(), RECT{0, 0, 640, 360}), 10000);

        // A drag along one axis only selects nothing: selection stays on.
        view.glue.setZoomEnabled(true);
        mouse(w, QEvent::MouseButtonPress, QPoint(200, 200));
        mouse(w, QEvent::MouseButtonRelease, QPoint(200, 230));
        QVERIFY(view.glue.zoomSelecting());
        // Off the picture while dragging: abandoned.
        mouse(w, QEvent::MouseMove, QPoint(200, 50));
        QVERIFY(!view.glue.zoomSelecting());
        QCOMPARE(result.count(), 1);
        QCOMPARE(result.at(0).at(0).toBool(), false);
        // Leaving the widget: abandoned as well.
        view.glue.setZoomEnabled(true);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w, &leave);
        QVERIFY(!view.glue.zoomSelecting());
        QCOMPARE(result.count(), 2);
    }

    void mappingWithoutRenderer()
    {
        // Before anything plays the picture area follows the stream's shape.
        FakeDevice device;
        QWidget w;
        w.resize(400, 400);
        qcCameraUtil glue;
        glue.setVideoWidget(&w);
        glue.setStreamInfo(device.info, device.info);
        QRect area;
        QVERIFY(glue.pictureRect(area));
        QCOMPARE(area, QRect(QPoint(0, 87), QPoint(399, 312)));
        RECT out;
        QVERIFY(!glue.mapZoomToPicture(out)); // nothing dragged
    }

    void soundFollowsTheView()
    {
        FakeDevice device;
        device.start();
        GlueView view(device);
        QVERIFY(!view.glue.openAudio()); // no player
        QVERIFY(view.glue.startStream(1));
        QVERIFY(view.glue.openAudio());
        view.glue.setVolume(50);
        QTRY_VERIFY_WITH_TIMEOUT(view.glue.player()->hasAudioOutput(), 10000);
        // Sound on survives a switch.
        QVERIFY(view.glue.switchStream(0));
        QTRY_VERIFY_WITH_TIMEOUT(view.glue.player()->hasAudioOutput(), 10000);
        // Sound off stays off through a switch.
        view.glue.closeAudio();
        QVERIFY(view.glue.switchStream(1));
        QTest::qWait(500);
        QVERIFY(!view.glue.player()->hasAudioOutput());
        // A stream without sound cannot be turned on.
        MediaInfo_t silent = device.info;
        silent.audioCodec = -1;
        view.glue.setStreamInfo(silent, silent);
        QVERIFY(!view.glue.openAudio());
    }
    void widgetLeftByAnEarlierGlue()
    {
        FakeDevice device;
        QWidget w;
        w.resize(200, 200);
        w.show();
        {
            qcCameraUtil first;
            attach(first, device, &w);
            QVERIFY(first.startStream(1));
            first.stopStream();
        }
        QCOMPARE(w.layout()->count(), 1); // the panel stays
        qcCameraUtil second;
        attach(second, device, &w);
        QVERIFY(second.startStream(1));
        QCOMPARE(w.layout()->count(), 2);
        QCOMPARE(w.findChildren<QLabel *>().size(), 1);
    }
};

QTEST_MAIN(TestCameraGlue)
#include "tst_cameraglue.moc"
