// What the X server shows of playing views: the selected view's frame,
// every view's picture after full screen, enlarge and Escape, and the picture
// of a device that refuses its sub stream.

#include "app/core/database.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwliveview.h"
#include "media/qccamerautil.h"
#include "media/cliveplayer.h"
#include "platform/d3d9/d3d9diag.h"
#include "tests/devicesim/faults.h"
#include "tests/support/livepage.h"
#include "livedevices.h"

#include <QLayout>
#include <QScreen>
#include <QtTest>

// X11 last: its macros clash with Qt names.
#include "tests/support/xpixels.h"

namespace {

// The third device refuses its sub stream; it is opened by its own case.
const QString kAddresses[] = {"127.0.0.61", "127.0.0.62", "127.0.0.63"};
const char *const kColourNames[] = {"red", "blue", "green"};
// FFmpeg's colour names: green is half intensity.
const QColor kColours[] = {QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 128, 0)};
const QColor kSelected("#63b8ff");
const QColor kNormal("#2c2c2c");

} // namespace

class ViewPixelsTest : public QObject
{
    Q_OBJECT

    Display *m_display = nullptr;
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::vector<livedevices::StreamingDevice> m_sims;
    std::unique_ptr<qwLiveView> m_page;

    QImage grab(QWidget *w)
    {
        return testsupport::grabX(m_display, DefaultRootWindow(m_display),
                                  QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
    }

    // Most of the view's picture area shows the colour.
    bool shows(int view, const QColor &colour)
    {
        qwCstmVideoview *v = m_page->view(view);
        if (!v || !v->isVisible() || !v->layout() || v->layout()->count() < 2)
            return false;
        const QImage img = grab(v->layout()->itemAt(1)->widget());
        int hits = 0;
        for (int j = 1; j < 8; ++j)
            for (int i = 1; i < 8; ++i)
                hits += testsupport::nearColour(img.pixelColor(img.width() * i / 8, img.height() * j / 8), colour, 30);
        return hits > 49 / 2;
    }

    // The view's outermost pixels, in the middle of each side, are the colour.
    bool framedIn(int view, const QColor &colour)
    {
        const QImage img = grab(m_page->view(view));
        const int w = img.width(), h = img.height();
        for (const QPoint &p : {QPoint(w / 2, 0), QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, h - 1)})
            if (!testsupport::nearColour(img.pixelColor(p), colour, 8))
                return false;
        return true;
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY2(QFile::exists(qEnvironmentVariable("ARDO_CLIPS_DIR") + "/colour-red-main.h264"),
                 "the clips fixture has not run");
        m_display = XOpenDisplay(nullptr);
        QVERIFY(m_display);
        m_fixture = std::make_unique<testsupport::LivePageFixture>();
        QVERIFY(m_fixture->isValid());
        for (int i = 0; i < 3; ++i) {
            m_sims.push_back(livedevices::startStreaming(kAddresses[i], kColourNames[i]));
            QVERIFY(m_sims.back().device);
            if (i == 2)
                m_sims.back().device->addFault("liveplay&stream=1", devicesim::Fault::status(503));
            QVERIFY(g_database->addDevice(livedevices::record(kColourNames[i], *m_sims.back().device)) >= 1);
        }
        m_page = std::make_unique<qwLiveView>();
        m_page->resize(1080, 666);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
        for (int row = 0; row < 2; ++row) {
            QTRY_COMPARE_WITH_TIMEOUT(m_page->cameraItem(row)->getStatus(), 2, 15000);
            m_page->onPlayviewClick(row);
            // The stream descriptions come with the first frames.
            QTRY_VERIFY_WITH_TIMEOUT((m_page->openStream(row), m_page->viewRecord(row)), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(shows(row, kColours[row]), 20000);
        }
    }

    void cleanupTestCase()
    {
        m_page.reset();
        m_sims.clear();
        m_fixture.reset();
        if (m_display)
            XCloseDisplay(m_display);
    }

    // The selected view keeps its light frame around the picture; the other
    // one its dark frame.
    void selectedPlayingViewIsFramed()
    {
        for (int selected : {0, 1}) {
            m_page->onPlayviewClick(selected);
            QTRY_VERIFY_WITH_TIMEOUT(framedIn(selected, kSelected), 5000);
            QVERIFY(framedIn(1 - selected, kNormal));
            QTRY_VERIFY_WITH_TIMEOUT(shows(selected, kColours[selected]), 5000);
        }
    }

    // Full screen, a view enlarged there, Escape: the pictures go on, in the
    // enlarged view, in the restored grid and after a page there and back.
    void fullScreenEnlargeEscape()
    {
        for (int round = 0; round < 20; ++round) {
            const int view = round % 2;
            m_page->onBtnFullscreenClick();
            QVERIFY(m_page->isFullScreen());
            QVERIFY(QTest::qWaitForWindowExposed(m_page->videoArea()));
            QTRY_COMPARE(m_page->videoArea()->geometry(), m_page->window()->screen()->geometry());
            QTest::mouseDClick(m_page->view(view), Qt::LeftButton);
            QCOMPARE(m_page->maximizedView(), view);
            QTest::keyClick(m_page->videoArea(), Qt::Key_Escape);
            QVERIFY(!m_page->isFullScreen());
            QTRY_VERIFY2_WITH_TIMEOUT(shows(view, kColours[view]), qPrintable(QStringLiteral("round %1").arg(round)),
                                      10000);
            m_page->onPlayviewDBClick(view);
            m_page->onBtnNextPageClick();
            m_page->onBtnPreviousPageClick();
            for (int v : {0, 1})
                QTRY_VERIFY2_WITH_TIMEOUT(shows(v, kColours[v]),
                                          qPrintable(QStringLiteral("round %1, view %2").arg(round).arg(v)), 10000);
        }
    }

    // The main stream stands in for the refused sub stream, whichever of the
    // two the view plays.
    void refusedSubStreamPlaysTheMainStream()
    {
        const int row = 2;
        QTRY_COMPARE_WITH_TIMEOUT(m_page->cameraItem(row)->getStatus(), 2, 15000);
        m_page->onPlayviewClick(row);
        QTRY_VERIFY_WITH_TIMEOUT((m_page->openStream(row), m_page->viewRecord(row)), 10000);
        qcCameraUtil *glue = m_page->viewRecord(row)->camera;
        for (int stream : {1, 0}) {
            glue->switchStream(stream);
            QTRY_VERIFY_WITH_TIMEOUT(glue->player()->picturesDrawn() > 5, 10000);
            QTRY_VERIFY2_WITH_TIMEOUT(shows(row, kColours[row]), qPrintable(QStringLiteral("stream %1").arg(stream)),
                                      10000);
        }
        m_page->closeView(row);
        QVERIFY(!m_page->viewRecord(row));
    }
};

int main(int argc, char **argv)
{
    // The players draw into the views' windows from their own threads.
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    ViewPixelsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_viewpixels.moc"
