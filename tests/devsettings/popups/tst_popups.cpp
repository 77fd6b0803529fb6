#include "devsetfixture.h"
#include "devsettings/qwdevicesettings.h"
#include "tests/support/gltest.h"

#include <QAbstractItemView>
#include <QPointer>
#include <QProcess>
#include <QPushButton>

#include <X11/Xlib.h>

using namespace devsetfixture;

namespace {

// The main window's size, placed so that the settings window centred over
// it lies wholly on the screen.
class Owner : public BaseWindow
{
public:
    Owner() : BaseWindow(nullptr, 3, 1200, 728) { resize(1200, 728); }
};

// Where the X server has the window's top-left corner, whatever frame a
// window manager put around it.
QPoint rootPos(Display *display, WId window)
{
    int x = 0;
    int y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display, ::Window(window), DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return QPoint(x, y);
}

// Whether a window manager took a window of ours into a frame of its own;
// asks again each time, since a map request made while the manager was
// still starting up can go unanswered.
bool reparented(Display *display, ::Window probe)
{
    ::Window root = 0;
    ::Window parent = 0;
    ::Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, probe, &root, &parent, &children, &count))
        return false;
    if (children)
        XFree(children);
    if (parent != root)
        return true;
    XMapWindow(display, probe);
    XSync(display, False);
    return false;
}

QString xy(const QPoint &p)
{
    return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
}

} // namespace

class PopupsTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<Fixture> m_fx;
    Display *m_display = nullptr;
    QProcess m_manager;

    // With a window manager that reparents (Openbox) and without one.
    static void managers()
    {
        QTest::addColumn<bool>("openbox");
        QTest::newRow("no window manager") << false;
        QTest::newRow("openbox") << true;
    }

    // Starts Openbox when the row asks for it, shows the owner and the
    // settings window over it, and waits until both are on the screen.
    QPointer<qwDeviceSettings> openSettings(Owner &owner)
    {
        QFETCH(bool, openbox);
        if (openbox) {
            m_manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            if (!m_manager.waitForStarted()) {
                qWarning("openbox did not start: %s", qPrintable(m_manager.errorString()));
                return nullptr;
            }
            const ::Window probe = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 10, 10, 0, 0, 0);
            const bool managed = QTest::qWaitFor([&] { return reparented(m_display, probe); }, 20000);
            XDestroyWindow(m_display, probe);
            XSync(m_display, False);
            if (!managed)
                return nullptr;
        }
        owner.move(40, 30);
        owner.show();
        if (!QTest::qWaitForWindowExposed(&owner))
            return nullptr;
        QPointer<qwDeviceSettings> window = new qwDeviceSettings(&owner);
        window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            return nullptr;
        return window;
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        qwDeviceSettings::setSlideDuration(0);
        m_display = XOpenDisplay(nullptr);
        QVERIFY(m_display);
    }
    void cleanupTestCase()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
    }
    void cleanup()
    {
        m_fx.reset();
        if (m_manager.state() != QProcess::NotRunning) {
            m_manager.terminate();
            QVERIFY(m_manager.waitForFinished(20000));
        }
    }

    // The frame rate list of the video page opens over its box.
    void listOverItsBox_data() { managers(); }
    void listOverItsBox()
    {
        Owner owner;
        QPointer<qwDeviceSettings> window = openSettings(owner);
        QVERIFY(window);
        child<QPushButton>(window, "pushButton_Guide117")->click();
        auto *box = child<QComboBox>(window, "comboBox_Framerate0");
        QTRY_VERIFY_WITH_TIMEOUT(box->count() > 1, 10000);
        box->showPopup();
        QWidget *list = box->view()->window();
        QTRY_VERIFY(list->isVisible());
        const QRect boxOnScreen(rootPos(m_display, window->winId()) + box->mapTo(window, QPoint(0, 0)), box->size());
        QRect listOnScreen;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (listOnScreen = QRect(rootPos(m_display, list->winId()), list->size()),
             qAbs(listOnScreen.left() - boxOnScreen.left()) <= 2 && listOnScreen.top() <= boxOnScreen.bottom() + 2 &&
                 listOnScreen.bottom() >= boxOnScreen.top()),
            qPrintable(
                QStringLiteral("list at %1, box at %2").arg(xy(listOnScreen.topLeft()), xy(boxOnScreen.topLeft()))),
            5000);
        box->hidePopup();
        delete window;
    }

    // The first drag by the title bar moves the window by the drag's
    // distance, no more.
    void firstDragMovesByItsDistance_data() { managers(); }
    void firstDragMovesByItsDistance()
    {
        Owner owner;
        QPointer<qwDeviceSettings> window = openSettings(owner);
        QVERIFY(window);
        const QPoint start = rootPos(m_display, window->winId());
        const QPoint grab = start + QPoint(400, 15);
        const QPoint distance(37, 23);
        QProcess hand;
        hand.start(QStringLiteral("xdotool"),
                   (QStringLiteral("mousemove --sync %1 mousedown 1 mousemove --sync %2 mouseup 1")
                        .arg(xy(grab), xy(grab + distance)))
                       .split(QLatin1Char(' ')));
        QVERIFY(hand.waitForFinished(20000));
        QCOMPARE(hand.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(rootPos(m_display, window->winId()), start + distance, 5000);
        QCOMPARE(window->pos(), start + distance);
        delete window;
    }
};

int main(int argc, char **argv)
{
    // The X platform loads the GL driver too.
    testsupport::keepGlDriverLoaded();
    QApplication app(argc, argv);
    PopupsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_popups.moc"
