#include <QtTest>
#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

#include <atomic>

#include "viewfixture.h"

#include "media/cd3dwndrender.h"
#include "media/cliveplayer.h"
#include "media/cyuvrender.h"
#include "media/qcaudioplayer.h"

namespace {

// One view: a window, its renderer and its player.
struct View
{
    View(int w, int h, int pictureW, int pictureH)
    {
        widget.resize(w, h);
        widget.show();
        window = HWND(widget.winId());
        render.setWindow(window);
        ok = render.init(pictureW, pictureH) == 0;
        player.setWndRender(&render);
    }
    ~View()
    {
        player.stopLiveplay();
        player.wait();
        render.stop();
    }
    QWidget widget;
    CD3DWndRender render;
    CLivePlayer player;
    HWND window = 0;
    bool ok = false;
};

// Feeds a clip's access units into a frame buffer.
struct Feeder
{
    Feeder(qcFrameBuffer *fb, QVector<clips::Unit> units) : fb(fb), units(std::move(units)) {}
    ~Feeder() { stop(); }
    void start(int intervalMs)
    {
        thread = std::thread([this, intervalMs] {
            // Paced on an absolute schedule, so a busy machine does not slow the stream.
            const auto start = std::chrono::steady_clock::now();
            int i = 0;
            while (!stopping) {
                push(i++);
                if (intervalMs > 0)
                    std::this_thread::sleep_until(start + std::chrono::milliseconds(intervalMs) * i);
            }
        });
    }
    void push(int i)
    {
        const clips::Unit &u = units[i % units.size()];
        fb->pushFrame(u.bytes.constData(), u.bytes.size(), u.key ? 1 : 2, uint64_t(i) * 40);
        ++pushed;
    }
    void stop()
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }
    qcFrameBuffer *fb;
    QVector<clips::Unit> units;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<int> pushed{0};
};

QVector<clips::Unit> clip(const char *name, bool h265)
{
    return clips::units(clips::read(QString::fromLatin1(name)), h265);
}

// A view playing the 360p H.264 clip (or `units`) from a frame buffer, fed
// every `intervalMs`; a negative interval leaves the feeding to the test.
struct Playing
{
    explicit Playing(int intervalMs, QSize window = QSize(320, 180), QSize info = QSize(640, 360),
                     QVector<clips::Unit> units = clip("h264-360p25.h264", false), uint32_t capacity = 921600,
                     int codec = 28, bool ffmpeg = false)
        : view(window.width(), window.height(), info.width(), info.height()), feeder(&fb, std::move(units))
    {
        fb.allocate(capacity);
        view.player.setFrameSource(&fb);
        view.player.setVideoInfo(info.width(), info.height(), codec, ffmpeg);
        view.player.start();
        if (intervalMs >= 0)
            feeder.start(intervalMs);
    }
    int presented() const { return presentedOn(view.window); }
    qcFrameBuffer fb;
    View view;
    Feeder feeder;
};

} // namespace

class TestLivePlayer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (clips::dir().isEmpty() || clip("h264-360p25.h264", false).isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
        platform::d3d9::setPresentHook(onPresent);
    }
    void cleanupTestCase() { platform::d3d9::setPresentHook(nullptr); }
    // Decoder choice 1 asks for FFmpeg; choice 0 for the program's own
    // decoder, which FFmpeg stands in for when it is not built in.
    void h265ByDecoderChoice_data()
    {
        QTest::addColumn<bool>("ffmpegChoice");
        QTest::newRow("decoder choice 1") << true;
        QTest::newRow("decoder choice 0") << false;
    }
    void h265ByDecoderChoice()
    {
        QFETCH(bool, ffmpegChoice);
        Playing playing(10, QSize(320, 180), QSize(640, 360), clip("h265-360p25.h265", true), 921600, 174,
                        ffmpegChoice);
        QTRY_VERIFY_WITH_TIMEOUT(playing.presented() >= 10, 10000);
        const CLivePlayer &p = playing.view.player;
        QCOMPARE(p.ownDecoderInUse(), !ffmpegChoice);
        // The benchmark's counters: each drawn picture was decoded, and the
        // renderer's yield is a part of the draw time.
        QVERIFY(p.picturesDrawn() > 0 && p.picturesDecoded() >= p.picturesDrawn());
        QVERIFY(p.decodeNanos() > 0 && p.decodeCpuNanos() > 0 && p.drawCpuNanos() > 0);
        QVERIFY(p.drawNanos() > p.drawYieldNanos() && p.drawYieldNanos() > 0);
    }

    void inputQueueBySize_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("bytes");
        QTest::newRow("1919") << 1919 << 3145728;
        QTest::newRow("1920") << 1920 << 5242880;
        QTest::newRow("2030") << 2030 << 10485760;
        QTest::newRow("3600") << 3600 << 16777216;
    }
    void inputQueueBySize()
    {
        QFETCH(int, width);
        QFETCH(int, bytes);
        CLivePlayer player;
        player.start();
        const uint8_t one = 0;
        QVERIFY(!player.inputData(&one, 1));      // decoder not open yet
        player.setVideoInfo(width, 64, 27, true); // FFmpeg's own H.264 number, not a stable one
        QTest::qWait(150);
        QVERIFY(!player.decoderOpen());
        player.setVideoInfo(width, 64, 28, false);
        QTRY_VERIFY(player.decoderOpen());
        QCOMPARE(player.inputQueueCapacity(), bytes);
        QVERIFY(!player.inputData(&one, 0));
        QVERIFY(!player.inputData(nullptr, 1));
        std::vector<uint8_t> huge(8388608);
        QVERIFY(!player.inputData(huge.data(), 8388608));
        QVERIFY(player.inputData(huge.data(), 1000));
        player.stopLiveplay();
        QVERIFY(!player.inputData(huge.data(), 1000));
        player.wait();
    }

    void queueKeepsConsumingWhilePaused()
    {
        const auto units = clip("h264-360p25.h264", false);
        View view(320, 180, 640, 360);
        view.player.setVideoInfo(640, 360, 28, false);
        view.player.start();
        QTRY_VERIFY(view.player.decoderOpen());
        view.player.setPaused(true);
        for (int i = 0; i < 10; ++i)
            QVERIFY(view.player.inputData(reinterpret_cast<const uint8_t *>(units[i].bytes.constData()),
                                          units[i].bytes.size()));
        QTest::qWait(500);
        QCOMPARE(presentedOn(view.window), 0);
        // Consumed and dropped: the queue has room for the whole clip again.
        for (int i = 0; i < units.size(); ++i)
            QVERIFY(view.player.inputData(reinterpret_cast<const uint8_t *>(units[i].bytes.constData()),
                                          units[i].bytes.size()));
        view.player.setPaused(false);
    }

    void snapshots()
    {
        QTemporaryDir dir;
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(921600));
        View view(320, 180, 640, 360);
        CLivePlayer &p = view.player;
        p.setSnapshotQuality(0);
        p.setSnapshotQuality(7);
        QCOMPARE(p.jpegQuality(), 75);
        p.setSnapshotQuality(5);
        QCOMPARE(p.jpegQuality(), 90);
        p.setSnapshotFormat(147);
        QCOMPARE(p.snapshotFormat(), 146);
        QSignalSpy spy(&p, &CLivePlayer::sigSnapshot);

        const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
        QVERIFY(p.requestSnapshot(dir.path(), a));
        QVERIFY(p.requestSnapshot(dir.path(), b));
        QVERIFY(!p.requestSnapshot(dir.path(), a)); // asked for already
        QVERIFY(!p.requestSnapshot(dir.path(), dir.filePath("no/such/dir/c.jpg")));
        // Nothing on the disk before its picture.
        QVERIFY(!QFile::exists(a) && !QFile::exists(b));
        p.setFrameSource(&fb);
        p.setVideoInfo(640, 360, 28, false);
        p.start();
        Feeder feeder(&fb, clip("h264-360p25.h264", false));
        feeder.start(40);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
        QCOMPARE(spy.at(0).at(0).toString(), a);
        QCOMPARE(spy.at(1).at(0).toString(), b);
        for (const QString &path : {a, b}) {
            QImage img(path);
            QCOMPARE(img.size(), QSize(640, 360));
        }

        // A save that fails drops its path, leaves no signal, and does not
        // hold up the next request.
        const QString broken = dir.filePath("broken.bmp");
        p.setSnapshotFormat(145);
        QVERIFY(p.requestSnapshot(dir.path(), broken));
        QFile::remove(broken);
        QVERIFY(QDir(dir.path()).mkdir("broken.bmp")); // cannot be written as a file
        const QString d = dir.filePath("d.bmp");
        QVERIFY(p.requestSnapshot(dir.path(), d));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 10000);
        QCOMPARE(spy.at(2).at(0).toString(), d);
        QCOMPARE(QImage(d).size(), QSize(640, 360));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 3);
    }

    // A snapshot's name never leads through a link: one standing there,
    // leading nowhere or to a file, refuses the snapshot and stays as it is.
    void snapshotNameALink_data()
    {
        QTest::addColumn<bool>("dangling");
        QTest::newRow("a link to nowhere") << true;
        QTest::newRow("a link to a file") << false;
    }
    void snapshotNameALink()
    {
        QFETCH(bool, dangling);
        QTemporaryDir dir, outside;
        const QString target = outside.filePath("picture.jpg");
        if (!dangling) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("kept") == 4);
        }
        const QString link = dir.filePath("CaptureFile/20240101/10.0.0.5/PICV1_MANUAL_a.jpg");
        QVERIFY(QDir().mkpath(QFileInfo(link).path()) && QFile::link(target, link));
        View view(320, 180, 640, 360);
        QVERIFY(!view.player.requestSnapshot(dir.filePath("CaptureFile"), link));
        QVERIFY(QFileInfo(link).isSymLink());
        QFile f(target);
        QCOMPARE(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("absent"),
                 QByteArray(dangling ? "absent" : "kept"));
    }

    void failedConversionKeepsThePathQueued()
    {
        const QVector<clips::Unit> full = clip("h264-444.h264", false);
        if (full.isEmpty())
            QSKIP("the 4:4:4 clip was not made");
        QTemporaryDir dir;
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(921600));
        View view(320, 180, 640, 360);
        CLivePlayer &p = view.player;
        QSignalSpy spy(&p, &CLivePlayer::sigSnapshot);
        const QString path = dir.filePath("kept.jpg");
        QVERIFY(p.requestSnapshot(dir.path(), path));
        p.setFrameSource(&fb);
        p.setVideoInfo(640, 360, 28, false);
        p.start();
        // 4:4:4 pictures decode but neither draw nor convert.
        {
            Feeder feeder(&fb, full);
            feeder.start(20);
            QTRY_VERIFY_WITH_TIMEOUT(feeder.pushed >= 40 && p.decodeNanos() > 0, 10000);
            QTest::qWait(300);
        }
        QCOMPARE(spy.count(), 0);
        QCOMPARE(p.picturesDrawn(), int64_t(0));
        QVERIFY(p.picturesDecoded() > 0);
        // No empty file stands for the picture meanwhile.
        QVERIFY(!QFile::exists(path));
        // The next picture that converts takes the same path.
        Feeder feeder(&fb, clip("h264-360p25.h264", false));
        feeder.start(20);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QCOMPARE(spy.at(0).at(0).toString(), path);
        QCOMPARE(QImage(path).size(), QSize(640, 360));
    }

    void audioOutputs()
    {
        FakeSinkFactoryHolder holder;
        CLivePlayer player;
        player.setAudioSinkFactory(holder.factory());
        player.start();
        player.startAudio(6, 0, 8000); // no such codec: request abandoned
        QTest::qWait(150);
        QVERIFY(!player.hasAudioOutput());

        player.startAudio(0, 0, 8000);
        QTRY_VERIFY(player.hasAudioOutput());
        QCOMPARE(player.audioOutputCodec(), 0);
        QCOMPARE(holder.clears.load(), 0);
        player.stopAudio();
        // Sound off empties the output at once and keeps it for the next on.
        QTRY_COMPARE(holder.clears.load(), 1);
        QVERIFY(player.hasAudioOutput());
        // Started again with another codec: a new output for it, not noise
        // through the old one.
        player.startAudio(1, 0, 8000);
        QTRY_COMPARE(player.audioOutputCodec(), 1);
        QVERIFY(player.hasAudioOutput());
        player.stopLiveplay();
        player.wait();
        QVERIFY(!player.hasAudioOutput());
    }
    // Switching an OpenGL widget's drawing asks it once per call to repaint,
    // from the player's thread; with no such widget attached a call does
    // nothing, not even later, when one is.
    void renderActive_data()
    {
        QTest::addColumn<bool>("attached");
        QTest::newRow("CYuvRender") << true;
        QTest::newRow("none") << false;
    }
    void renderActive()
    {
        QFETCH(bool, attached);
        CYuvRender render(nullptr, 64, 36);
        CLivePlayer player;
        QSignalSpy updates(&player, &CLivePlayer::sigRenderUpdate);
        if (attached)
            player.setRenderWidget(&render);
        player.setRenderActive(false);
        player.setRenderActive(true);
        player.start();
        if (attached) {
            QTRY_COMPARE(updates.count(), 1); // both calls before the first pass: one request
            player.setRenderActive(false);
            QTRY_COMPARE(updates.count(), 2);
        } else {
            player.setRenderWidget(&render);
            QTest::qWait(300);
            QCOMPARE(updates.count(), 0);
        }
        player.stopLiveplay();
        player.wait();
    }

    // P2P devices announce the coded size (640x368) of a stream the decoder
    // crops to 640x360: drawn, with the last row repeated below.
    void codedSizeAnnouncementIsDrawn()
    {
        Playing p(20, QSize(640, 368), QSize(640, 368));
        QTRY_VERIFY_WITH_TIMEOUT(p.presented() >= 5, 10000);
        {
            std::lock_guard<std::mutex> lock(g_presented.mutex);
            QCOMPARE(g_presented.size[p.view.window], QSize(640, 368));
        }
        // A difference of a macroblock or more is no crop: nothing is drawn.
        View other(640, 384, 640, 384);
        other.player.setFrameSource(&p.fb);
        other.player.setVideoInfo(640, 376, 28, false);
        other.player.start();
        QTest::qWait(800);
        QCOMPARE(presentedOn(other.window), 0);
        QVERIFY(other.player.decoderOpen());
    }
    void rendererSwapTakesEffectAtOnce()
    {
        QWidget other;
        other.resize(200, 100);
        other.show();
        CD3DWndRender second;
        second.setWindow(HWND(other.winId()));
        QCOMPARE(second.init(640, 360), 0);
        Playing p(5);
        QTRY_VERIFY_WITH_TIMEOUT(p.presented() > 2, 5000);
        p.view.player.setWndRender(&second);
        const int firstCount = p.presented();
        p.view.render.stop(); // safe: no longer in use
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(HWND(other.winId())) > 2, 5000);
        QCOMPARE(p.presented(), firstCount);
        p.view.player.stopLiveplay();
        p.view.player.wait();
    }

    void overtakenReaderRecoversAtOnce()
    {
        const auto units = clip("h264-360p25.h264", false);
        // Sizes of the first two groups of pictures.
        int gop = 0;
        qint64 gopBytes = 0;
        for (const auto &u : units) {
            if (u.key && ++gop > 2)
                break;
            gopBytes += u.bytes.size() + 32;
        }
        Playing p(-1, QSize(320, 180), QSize(640, 360), units, uint32_t(gopBytes * 3 / 4)); // about 1.5 groups
        for (int i = 0; i < 10; ++i) {
            p.feeder.push(i);
            QTest::qWait(40);
        }
        QTRY_VERIFY_WITH_TIMEOUT(p.presented() > 2, 5000);
        QTest::qWait(200); // the player has caught up and waits for frame 11
        const int before = p.presented();
        // A burst that evicts the player's next frame.
        for (int i = 10; i < 60; ++i)
            p.feeder.push(i);
        QTRY_VERIFY_WITH_TIMEOUT(p.presented() > before, 3000); // not after 301 misses (6 s)
        QTest::qWait(500);
        // It went to the newest key frame, not through the evicted frames.
        QVERIFY(p.presented() - before < 40);
    }

private:
    struct FakeSinkFactoryHolder
    {
        struct Sink : qcAudioSink
        {
            explicit Sink(std::atomic<int> *clears) : clears(clears) {}
            bool start(int) override { return true; }
            int bytesFree() override { return 1920; }
            qint64 write(const char *, qint64 n) override { return n; }
            QAudio::State state() override { return QAudio::ActiveState; }
            void setVolume(qreal) override {}
            void clear() override { ++*clears; }
            void stop() override {}
            std::atomic<int> *clears;
        };
        std::atomic<int> clears{0};
        std::function<std::unique_ptr<qcAudioSink>(const QAudioFormat &)> factory()
        {
            return [this](const QAudioFormat &) { return std::unique_ptr<qcAudioSink>(new Sink(&clears)); };
        }
    };
};

QTEST_MAIN(TestLivePlayer)
#include "tst_liveplayer.moc"
