// The video area goes full screen and comes back into the page, again and
// again, under Openbox: after every return the X server has it as a child
// of the page's window at its old place, not as a window of its own.

#include "app/core/database.h"
#include "app/widgets/statusbutton.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwliveview.h"
#include "tests/support/livepage.h"
#include "livedevices.h"

#include <QProcess>
#include <QScreen>
#include <QtTest>

// X11 last: its macros clash with Qt names.
#include <X11/Xlib.h>

namespace {

const QString kAddresses[] = {"127.0.0.71", "127.0.0.72"};
const char *const kColours[] = {"red", "blue"};
constexpr int kCycles = 200;
// Enough to tell a fault that comes now and then from one that came once;
// the run stops there, as a stray return costs the full wait.
constexpr int kEnoughFaults = 5;

struct Tree
{
    ::Window root = 0;
    ::Window parent = 0;
    bool ok = false;
};

Tree tree(Display *display, ::Window window)
{
    Tree t;
    ::Window *children = nullptr;
    unsigned int count = 0;
    t.ok = XQueryTree(display, window, &t.root, &t.parent, &children, &count);
    if (children)
        XFree(children);
    return t;
}

bool viewable(Display *display, ::Window window)
{
    XWindowAttributes a;
    return XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable;
}

} // namespace

class FullScreenTest : public QObject
{
    Q_OBJECT

    Display *m_display = nullptr;
    QProcess m_manager;
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::vector<livedevices::StreamingDevice> m_sims;
    std::unique_ptr<qwLiveView> m_page;
    // Where the page keeps the area, read before the first trip.
    QRect m_home;

    QWidget *area() const { return m_page->videoArea(); }

    // Maps a probe window and waits until Openbox framed it.
    bool probeFramed(int timeoutMs)
    {
        const ::Window probe = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(m_display, probe);
        XSync(m_display, False);
        const bool framed = QTest::qWaitFor(
            [&] {
                const Tree t = tree(m_display, probe);
                return t.ok && t.parent != t.root;
            },
            timeoutMs);
        XDestroyWindow(m_display, probe);
        XSync(m_display, False);
        return framed;
    }

    // Openbox has handled every request made before this call: it acts on
    // its events in order, and the probe's map request comes after them.
    bool managerCaughtUp()
    {
        QCoreApplication::processEvents(); // hands Qt's own requests to the server
        XSync(m_display, False);
        return probeFramed(20000);
    }

    // Full screen as the X server sees it: a window the manager framed,
    // shown, and as large as the screen for Qt.
    bool fullScreenShown()
    {
        const Tree t = tree(m_display, area()->winId());
        return m_page->isFullScreen() && area()->isWindow() && t.ok && t.parent != t.root &&
               viewable(m_display, area()->winId()) && area()->geometry() == m_page->screen()->geometry();
    }

    // Back in the page: what Qt says and what the X server has agree.
    QString whereIsTheArea()
    {
        QWidget *a = area();
        if (m_page->isFullScreen() || a->isWindow() || a->parentWidget()->objectName() != "widget_Multivideo")
            return QStringLiteral("Qt has the area as a window");
        if (a->geometry() != m_home)
            return QStringLiteral("geometry %1,%2 %3x%4").arg(a->x()).arg(a->y()).arg(a->width()).arg(a->height());
        const Tree t = tree(m_display, a->winId());
        if (!t.ok || t.parent != a->nativeParentWidget()->winId())
            return QStringLiteral("the X server has the area outside the page (parent 0x%1, root 0x%2)")
                .arg(t.parent, 0, 16)
                .arg(t.root, 0, 16);
        if (!viewable(m_display, a->winId()))
            return QStringLiteral("the area is not shown");
        int x = 0, y = 0;
        ::Window child = 0;
        XTranslateCoordinates(m_display, a->winId(), a->window()->winId(), 0, 0, &x, &y, &child);
        if (QPoint(x, y) != a->mapTo(a->window(), QPoint(0, 0)))
            return QStringLiteral("the X server has the area at %1,%2 in the page's window").arg(x).arg(y);
        return QString();
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY2(QFile::exists(qEnvironmentVariable("ARDO_CLIPS_DIR") + "/colour-red-main.h264"),
                 "the clips fixture has not run");
        m_display = XOpenDisplay(nullptr);
        QVERIFY(m_display);
        m_manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QVERIFY2(m_manager.waitForStarted(), qPrintable(m_manager.errorString()));
        // A map request made while Openbox still starts can go unanswered:
        // ask again until it frames a probe.
        QVERIFY(QTest::qWaitFor([&] { return probeFramed(1000); }, 30000));

        m_fixture = std::make_unique<testsupport::LivePageFixture>();
        QVERIFY(m_fixture->isValid());
        for (int i = 0; i < 2; ++i) {
            m_sims.push_back(livedevices::startStreaming(kAddresses[i], kColours[i]));
            QVERIFY(m_sims.back().device);
            QVERIFY(g_database->addDevice(livedevices::record(kColours[i], *m_sims.back().device)) >= 1);
        }
        m_page = std::make_unique<qwLiveView>();
        m_page->resize(1080, 666);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
        // Playing views give the area a native window of its own, which is
        // what a window manager can hold on to.
        for (int row = 0; row < 2; ++row) {
            QTRY_COMPARE_WITH_TIMEOUT(m_page->cameraItem(row)->getStatus(), 2, 15000);
            m_page->onPlayviewClick(row);
            QTRY_VERIFY_WITH_TIMEOUT((m_page->openStream(row), m_page->viewRecord(row)), 10000);
        }
        QVERIFY(area()->internalWinId());
        m_home = area()->geometry();
    }

    void cleanupTestCase()
    {
        m_page.reset();
        m_sims.clear();
        m_fixture.reset();
        if (m_manager.state() != QProcess::NotRunning) {
            m_manager.terminate();
            QVERIFY(m_manager.waitForFinished(20000));
        }
        if (m_display)
            XCloseDisplay(m_display);
    }

    void andBackAgain_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("full-screen button") << false;
    }
    // Each return is read back once Openbox has acted on everything it was
    // told; a stray window is put back by the next cycle, so the count says
    // how often it happened.
    void andBackAgain()
    {
        QFETCH(bool, escape);
        QStringList faults;
        int cycle = 0;
        for (; cycle < kCycles && faults.size() < kEnoughFaults; ++cycle) {
            m_page->barButton("m_btnFullscreen")->click();
            QVERIFY2(QTest::qWaitFor([&] { return fullScreenShown(); }, 20000),
                     qPrintable(QStringLiteral("cycle %1: not full screen").arg(cycle)));
            if (escape)
                QTest::keyClick(area(), Qt::Key_Escape);
            else
                m_page->barButton("m_btnFullscreen")->click();
            // The return may wait for Openbox to let go of the window; once
            // back, Openbox must have nothing left to do to it.
            const bool back = QTest::qWaitFor([&] { return whereIsTheArea().isEmpty(); }, 10000);
            QVERIFY(managerCaughtUp());
            const QString fault = whereIsTheArea();
            if (!back || !fault.isEmpty())
                faults << QStringLiteral("cycle %1: %2").arg(cycle).arg(fault);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("%1 of %2 returns failed; %3")
                                                  .arg(faults.size())
                                                  .arg(cycle)
                                                  .arg(faults.mid(0, 5).join("; "))));
    }
};

QTEST_MAIN(FullScreenTest)
#include "tst_fullscreen.moc"
