// The settings window with a red device: each preview page shows the
// picture while shown, comes back after a broken stream, and lets go of
// the stream when hidden or closed.

#include "devsetfixture.h"
#include "devsettings/devsetframe.h"
#include "devsettings/qwdevicesettings.h"
#include "devsettings/qwdevsetimageex.h"
#include "devsettings/qwdevsetosd.h"
#include "media/cyuvrender.h"
#include "tests/support/gltest.h"
#include "media/qcstreamplayer.h"
#include "tests/devicesim/protocols.h"
#include "tests/devicesim/settingsets.h"

#include <QApplication>
#include <QPushButton>

#include "devsetpreviewcheck.h"

using namespace devsetfixture;

namespace {

Display *g_display = nullptr;

// A widget of the page that shows a red picture, or null.
CYuvRender *redPicture(QWidget *page)
{
    for (CYuvRender *r : page->findChildren<CYuvRender *>()) {
        if (r->picturesPainted() > 0 && qRed(r->grabFramebuffer().pixel(r->width() / 2, r->height() / 2)) > 150)
            return r;
    }
    return nullptr;
}

// The Direct3D drawing child of an image page once the X server shows red
// in it, or null.
QWidget *redSurface(QWidget *page)
{
    QWidget *surface = presentedSurface(child<QWidget>(page, "widget_Videoview"));
    if (!surface)
        return nullptr;
    const QColor centre =
        testsupport::pixelAt(g_display, HWND(surface->winId()), surface->width() / 2, surface->height() / 2);
    return centre.red() > 150 && centre.green() < 100 ? surface : nullptr;
}

// Point i (1 to 4) of a row across the preview's lower half: each inside a
// cell of the motion page's grid (16 x 15), and one always off the picture's
// white bar.
QPoint samplePoint(const QWidget *preview, int i)
{
    return QPoint(preview->width() * i / 5 / 16 * 16 + 8, preview->height() * 3 / 4 / 15 * 15 + 7);
}

} // namespace

class PreviewsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> m_fx;
    devicesim::Protocols m_protocols;
    QPointer<qwDeviceSettings> m_window;

    void select(int id)
    {
        m_window->onGuideSelect(id);
        QVERIFY(m_window->page(id));
    }
    void backToGuide() { child<QPushButton>(m_window, "pushButton_Return")->click(); }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        qwDeviceSettings::setSlideDuration(0);
        testsupport::PresentCounter::install();
        g_display = XOpenDisplay(nullptr);
        QVERIFY(g_display);
    }
    void cleanupTestCase()
    {
        testsupport::PresentCounter::uninstall();
        XCloseDisplay(g_display);
    }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_protocols = devicesim::installProtocols(m_fx->device(), qEnvironmentVariable("ARDO_CLIPS_DIR"));
        devicesim::LiveStream::Options o = m_protocols.live->options();
        o.colour = "red";
        m_protocols.live->setOptions(o);
        m_window = new qwDeviceSettings(nullptr);
        m_window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }
    void cleanup()
    {
        delete m_window;
        m_protocols = {};
        m_fx.reset();
    }

    void imageThenOsd()
    {
        select(DEVSET_IMAGE);
        QTRY_VERIFY_WITH_TIMEOUT(redSurface(m_window->page(DEVSET_IMAGE)), 10000);
        {
            // A device with the extended image model, in a window over the first.
            QVERIFY(devicesim::setImageStyle(m_fx->device(), 1));
            qwDeviceSettings extended(nullptr);
            extended.setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
            extended.show();
            QVERIFY(QTest::qWaitForWindowExposed(&extended));
            QTRY_COMPARE(extended.imageStyle(), 1);
            extended.onGuideSelect(DEVSET_IMAGE);
            QVERIFY(qobject_cast<qwDevsetImageEx *>(extended.page(DEVSET_IMAGE)));
            QTRY_VERIFY_WITH_TIMEOUT(redSurface(extended.page(DEVSET_IMAGE)), 10000);
        }
        backToGuide();
        QTRY_COMPARE_WITH_TIMEOUT(openStreams(m_fx->device()), 0, 3000);

        select(DEVSET_OSD);
        QWidget *osd = m_window->page(DEVSET_OSD);
        QTRY_VERIFY_WITH_TIMEOUT(redPicture(osd), 10000);
        // A broken stream comes back by itself, on one new picture widget.
        CYuvRender *before = redPicture(osd);
        m_protocols.live->closeConnections(0);
        QTRY_VERIFY_WITH_TIMEOUT(redPicture(osd) && redPicture(osd) != before, 10000);
        QCOMPARE(osd->findChildren<CYuvRender *>().size(), 1);
        // What the X server shows: the picture through the overlay, with the
        // frames drawn over it.
        QWidget *preview = child<QWidget>(osd, "widget_Preview");
        const QPoint centre = preview->mapTo(m_window, preview->rect().center());
        QImage screen;
        QTRY_VERIFY((screen = testsupport::grabX(g_display, Window(m_window->winId()), m_window->rect()),
                     !screen.isNull() && qRed(screen.pixel(centre)) > 150 && qGreen(screen.pixel(centre)) < 100));
        screen.save(QCoreApplication::applicationDirPath() + "/devsettings-previews.png");

        // Hidden: the stream closes and nothing reopens it.
        backToGuide();
        QTRY_COMPARE_WITH_TIMEOUT(openStreams(m_fx->device()), 0, 3000);
        const int gets = streamGets(m_fx->device());
        QTest::qWait(2000);
        QCOMPARE(streamGets(m_fx->device()), gets);
    }

    // Pure colours come through the OpenGL previews as the device sent them
    // (limited-range samples, as the live grid shows them), read back from
    // the X server.
    void trueColours_data()
    {
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("red") << "red" << QColor(255, 0, 0);
        QTest::newRow("lime") << "lime" << QColor(0, 255, 0);
        QTest::newRow("blue") << "blue" << QColor(0, 0, 255);
        QTest::newRow("cyan") << "cyan" << QColor(0, 255, 255);
        QTest::newRow("magenta") << "magenta" << QColor(255, 0, 255);
        QTest::newRow("yellow") << "yellow" << QColor(255, 255, 0);
        QTest::newRow("white") << "white" << QColor(255, 255, 255);
    }
    void trueColours()
    {
        QFETCH(QString, colour);
        QFETCH(QColor, expected);
        devicesim::LiveStream::Options o = m_protocols.live->options();
        o.colour = colour;
        m_protocols.live->setOptions(o);
        const auto near = [&](const QColor &c) {
            return qAbs(c.red() - expected.red()) <= 3 && qAbs(c.green() - expected.green()) <= 3 &&
                   qAbs(c.blue() - expected.blue()) <= 3;
        };
        const auto seen = [&](int page) {
            QWidget *preview = child<QWidget>(m_window->page(page), "widget_Preview");
            const QImage screen = testsupport::grabX(g_display, Window(m_window->winId()), m_window->rect());
            QColor c;
            for (int i = 1; i <= 4 && !screen.isNull() && !near(c); ++i) {
                c = screen.pixelColor(preview->mapTo(m_window, samplePoint(preview, i)));
            }
            return c;
        };
        for (int page : {int(DEVSET_OSD), int(DEVSET_MOTION)}) {
            select(page);
            const auto painting = [&] {
                const QList<CYuvRender *> r = m_window->page(page)->findChildren<CYuvRender *>();
                return r.size() == 1 && r.at(0)->picturesPainted() > 5;
            };
            QTRY_VERIFY_WITH_TIMEOUT(painting(), 10000);
            QColor c;
            QTRY_VERIFY2_WITH_TIMEOUT(
                near(c = seen(page)),
                qPrintable(
                    QStringLiteral("page %1 shows %2, %3, %4").arg(page).arg(c.red()).arg(c.green()).arg(c.blue())),
                5000);
            backToGuide();
            QTRY_COMPARE_WITH_TIMEOUT(openStreams(m_fx->device()), 0, 3000);
        }
    }

    // A page shown again while its device cannot be reached shows no
    // picture of its last visit, and the stream's own once it is back.
    void shownAgainWithoutPicture_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("imageStyle");
        QTest::addColumn<QString>("area");
        // Whether the guide was on the screen in between, or the page came
        // back before: what the X server and Qt keep of the old picture
        // differs.
        QTest::addColumn<bool>("guideSeen");
        for (bool guideSeen : {true, false}) {
            const char *when = guideSeen ? "after the guide" : "at once";
            QTest::addRow("on-screen display (OpenGL), %s", when)
                << int(DEVSET_OSD) << 0 << "widget_Preview" << guideSeen;
            QTest::addRow("motion (OpenGL), %s", when) << int(DEVSET_MOTION) << 0 << "widget_Preview" << guideSeen;
            QTest::addRow("image (Direct3D), %s", when) << int(DEVSET_IMAGE) << 0 << "widget_Videoview" << guideSeen;
            QTest::addRow("extended image (Direct3D), %s", when)
                << int(DEVSET_IMAGE) << 1 << "widget_Videoview" << guideSeen;
        }
    }
    void shownAgainWithoutPicture()
    {
        QFETCH(int, page);
        QFETCH(int, imageStyle);
        QFETCH(QString, area);
        QFETCH(bool, guideSeen);
        if (imageStyle) {
            delete m_window;
            QVERIFY(devicesim::setImageStyle(m_fx->device(), imageStyle));
            m_window = new qwDeviceSettings(nullptr);
            m_window->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "1234");
            m_window->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_window));
            QTRY_COMPARE(m_window->imageStyle(), imageStyle);
        }
        // What the X server shows at the four sample points.
        const auto showsRed = [&] {
            QWidget *preview = child<QWidget>(m_window->page(page), qPrintable(area));
            const QImage screen = testsupport::grabX(g_display, Window(m_window->winId()), m_window->rect());
            for (int i = 1; i <= 4 && !screen.isNull(); ++i) {
                const QColor c = screen.pixelColor(preview->mapTo(m_window, samplePoint(preview, i)));
                if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                    return true;
            }
            return false;
        };
        select(page);
        QTRY_VERIFY_WITH_TIMEOUT(showsRed(), 10000);
        backToGuide();
        QTRY_COMPARE_WITH_TIMEOUT(openStreams(m_fx->device()), 0, 3000);
        if (guideSeen)
            QTRY_VERIFY(!showsRed());
        const quint16 port = m_fx->device().port();
        m_fx->device().stop();

        // Whatever the screen still shows of the last visit goes once the
        // page is painted, and nothing of it comes back while the new player
        // tries the device again and again.
        select(page);
        QTRY_VERIFY2_WITH_TIMEOUT(!showsRed(), "the last visit's picture stays", 5000);
        for (int i = 0; i < 20; ++i) {
            QVERIFY2(!showsRed(), qPrintable(QStringLiteral("the last visit's picture after %1 looks").arg(i)));
            QTest::qWait(100);
        }
        QVERIFY(m_fx->device().start(QHostAddress(QHostAddress::LocalHost), port));
        QTRY_VERIFY_WITH_TIMEOUT(showsRed(), 15000);
    }

    // Closed in the middle of a reconnection: gone at once, streams closed.
    void closeWhileReconnecting()
    {
        select(DEVSET_MOTION);
        QTRY_VERIFY_WITH_TIMEOUT(redPicture(m_window->page(DEVSET_MOTION)), 10000);
        m_protocols.live->closeConnections(0);
        QTest::qWait(100);
        m_window->close();
        QTRY_VERIFY(!m_window);
        QTRY_COMPARE_WITH_TIMEOUT(openStreams(m_fx->device()), 0, 2000);
        const int gets = streamGets(m_fx->device());
        QTest::qWait(1000);
        QCOMPARE(streamGets(m_fx->device()), gets);
    }
};

int main(int argc, char **argv)
{
    if (!testsupport::prepareGlSuite())
        return 1;
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    PreviewsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_previews.moc"
