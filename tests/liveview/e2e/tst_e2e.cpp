// The operator's story on the real main window under X: add devices through
// the dialog, watch them log in and play, change the grid, swap views, leave
// the page and come back, lose and regain a login, change a stream's format
// and a password, remove a device and close the window. Pictures are read
// back from the X server; presents are counted per render surface.

#include "app/widgets/basewindow.h"
#include "app/core/database.h"
#include "app/shell/cmsclient.h"
#include "app/widgets/qclabelex.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/statusbutton.h"
#include "device/qcaudiocapture.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwalarmeventmanane.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwimagepanel.h"
#include "liveview/qwliveview.h"
#include "liveview/qwmodifydevice.h"
#include "liveview/qwpresetitem.h"
#include "liveview/qwptzpanel.h"
#include "liveview/qwselectmultmode.h"
#include "liveview/qwvideoshowtoolbar.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "media/qcstreamserver.h"
#include "platform/d3d9/d3d9diag.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/support/threads.h"
#include "tests/support/livepage.h"
#include "tests/support/pictures.h"
#include "cameraitems.h"
#include "livedevices.h"
#include "panelsupport.h"

#include <QDir>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBox>
#include <QToolButton>
#include <QtTest>

// X11 last: its macros clash with Qt names.
#include "tests/support/xpixels.h"

namespace {

const char *const kNames[] = {"camA", "camB", "camC"};
const char *const kColourNames[] = {"red", "green", "blue"};
// FFmpeg's colour names: green is half intensity.
const QColor kColours[] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255)};
const QString kAddresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};

void mouse(QWidget *w, QEvent::Type type)
{
    const QPoint pos(w->width() / 2, w->height() / 2);
    QMouseEvent e(type, pos, w->mapToGlobal(pos), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    Display *m_display = nullptr;
    QPointer<qwLiveView> m_page;

    // What the X server shows in a widget's area, read from the root window
    // so that every native child window of the views is included.
    QImage grab(QWidget *w)
    {
        return testsupport::grabX(m_display, DefaultRootWindow(m_display),
                                  QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
    }

    QWidget *videoWidget(int view)
    {
        qwCstmVideoview *v = m_page->view(view);
        if (!v || !v->layout() || v->layout()->count() < 2)
            return nullptr;
        return v->layout()->itemAt(1)->widget();
    }

    // The share of a view's picture area that shows the colour (0..1), from
    // a grid of samples; the moving bar and any border cover the rest.
    double shareOf(int view, const QColor &colour)
    {
        QWidget *video = videoWidget(view);
        if (!video || !video->isVisible())
            return 0;
        const QImage img = grab(video);
        if (img.isNull())
            return 0;
        int hits = 0;
        int all = 0;
        for (int j = 1; j < 16; ++j)
            for (int i = 1; i < 16; ++i) {
                ++all;
                hits +=
                    testsupport::nearColour(img.pixelColor(img.width() * i / 16, img.height() * j / 16), colour, 30);
            }
        return double(hits) / all;
    }

    bool shows(int view, int colourIndex) { return shareOf(view, kColours[colourIndex]) > 0.5; }

    // Mostly black with some white: the "No Video" panel.
    bool showsNoVideo(int view)
    {
        QWidget *video = videoWidget(view);
        if (!video)
            return false;
        return testsupport::blackWithText(grab(video), 8);
    }

    qcCameraUtil *glueOf(int view)
    {
        _st_view_item *record = m_page->viewRecord(view);
        return record ? record->camera : nullptr;
    }

    // The view's current render surface; 0 without one.
    HWND surfaceOf(int view)
    {
        qcCameraUtil *glue = glueOf(view);
        return glue && glue->renderSurface() ? HWND(glue->renderSurface()->winId()) : 0;
    }

    int presents(int view) { return surfaceOf(view) ? testsupport::PresentCounter::on(surfaceOf(view)) : 0; }

    // The view draws new pictures: its surface presents some more.
    bool advances(int view)
    {
        const HWND surface = surfaceOf(view);
        const int before = presents(view);
        return QTest::qWaitFor(
            [&] {
                const HWND now = surfaceOf(view);
                return now && testsupport::PresentCounter::on(now) >= (now == surface ? before : 0) + 5;
            },
            20000);
    }

    bool eachViewAdvances()
    {
        for (_st_view_item *record : m_page->viewRecords())
            if (!advances(record->view)) {
                qWarning() << "view" << record->view << "drew nothing new";
                return false;
            }
        return true;
    }

    // Waits until no view presents for a whole second (all paused).
    bool allStandStill()
    {
        const auto all = [this] {
            int n = 0;
            for (_st_view_item *record : m_page->viewRecords())
                n += presents(record->view);
            return n;
        };
        for (int tries = 0; tries < 15; ++tries) {
            const int before = all();
            QTest::qWait(1000);
            if (all() == before)
                return true;
        }
        return false;
    }

    int viewOf(int row)
    {
        for (_st_view_item *record : m_page->viewRecords())
            if (record->row == row)
                return record->view;
        return -1;
    }

    // The path of a link tip over the page, which is closed; empty without one.
    QString takeLinkTip()
    {
        for (qwTipsdlgEx *tip : m_page->findChildren<qwTipsdlgEx *>())
            if (tip->kind() == qwTipsdlgEx::FilePath) {
                const QString path = tip->tipText();
                delete tip;
                return path;
            }
        return QString();
    }

    void doubleClickRow(int row)
    {
        QListWidget *list = m_page->deviceList();
        const QPoint centre = list->visualItemRect(list->item(row)).center();
        // An item view takes a double click only after the press and release
        // of the first click.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        QVERIFY2(QFile::exists(qEnvironmentVariable("ARDO_CLIPS_DIR") + "/colour-red-main.h264"),
                 "the clips fixture has not run");
        m_display = XOpenDisplay(nullptr);
        QVERIFY(m_display);
        testsupport::PresentCounter::install();
    }

    void cleanupTestCase()
    {
        testsupport::PresentCounter::uninstall();
        if (m_display)
            XCloseDisplay(m_display);
    }

    void operatorStory()
    {
        // camA's alarms fetch two of its own pictures.
        testsupport::LivePageFixture fixture(
            {"UPDATE recordcapture SET captureskdenable=1, capturecount=2",
             "INSERT INTO schedules (applytype,devname,ipaddr,skdsun,skdmon,skdtue,skdwed,skdthu,skdfri,skdsat,"
             "skdtype,enable) VALUES (1,'camA','127.0.0.2','1:0-1440','1:0-1440','1:0-1440','1:0-1440','1:0-1440',"
             "'1:0-1440','1:0-1440',1,1)"});
        QVERIFY(fixture.isValid());
        std::vector<livedevices::StreamingDevice> sims;
        for (int i = 0; i < 3; ++i) {
            sims.push_back(livedevices::startStreaming(kAddresses[i], kColourNames[i]));
            QVERIFY(sims.back().device);
        }
        auto *w = new cmsclient(nullptr, "admin");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Taken before any device is listed: the page's threads then are its
        // stream service's alone.
        const QStringList threadsBefore = testsupport::threadIds();
        m_page = w->liveView();
        qwLiveView *page = m_page;
        QCOMPARE(w->pages()->currentWidget(), page);

        // 1. camA through the dialog: connecting, stored, logged, both
        // streams asked for, then logged in.
        QTest::mouseClick(page->findChild<QPushButton *>("pushButton_AddDevice"), Qt::LeftButton);
        auto *dialog = page->findChild<qwAddDevice *>();
        QVERIFY(dialog);
        auto addThroughDialog = [&](int i) {
            dialog->form()->nameEdit()->setText(kNames[i]);
            dialog->form()->addressEdit()->setText(kAddresses[i]);
            dialog->form()->portEdit()->setText(QString::number(sims[i].device->port()));
            QTest::mouseClick(dialog->addButton(), Qt::LeftButton);
        };
        addThroughDialog(0);
        // Out of the way of the views, whose pictures are read from the screen.
        dialog->hide();
        QCOMPARE(page->deviceCount(), 1);
        QCOMPARE(page->cameraItem(0)->getStatus(), 1);
        QCOMPARE(fixture.query("SELECT count(*) FROM devices WHERE devname='camA' AND indexid >= 1"),
                 QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(sims[0].protocols.live->connections() >= 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(0)->getStatus(), 2, 10000);
        QCOMPARE(cameraitems::enabledMask(page->cameraItem(0)), 0x1f);

        // 2. A double click on the row plays camA in view 0, on the main
        // stream of the 4-grid.
        doubleClickRow(0);
        QTRY_VERIFY_WITH_TIMEOUT(glueOf(0), 5000);
        QVERIFY(m_page->viewToolbar(0));
        QCOMPARE(glueOf(0)->getStreamType(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(shows(0, 0), qPrintable(QStringLiteral("red share %1").arg(shareOf(0, kColours[0]))),
                                  20000);

        // 2a. camA's tool bar: a recording and a snapshot by mouse, each
        // announced by the link tip; talk from the bar's microphone; a pushed
        // alarm blinks the button, is listed, and fetches camA's pictures.
        QTest::mouseClick(page->viewToolbar(0)->button(qwVideoshowToolbar::Record), Qt::LeftButton);
        QVERIFY(page->viewRecord(0)->recording);
        QTest::qWait(2000); // two seconds of pictures
        QTest::mouseClick(page->viewToolbar(0)->button(qwVideoshowToolbar::Record), Qt::LeftButton);
        QString recorded;
        QTRY_VERIFY_WITH_TIMEOUT(!(recorded += takeLinkTip()).isEmpty(), 10000);
        QVERIFY(recorded.contains("/127.0.0.2/RECV1_MANUAL_127-0-0-2_"));
        QTest::mouseClick(page->viewToolbar(0)->button(qwVideoshowToolbar::Snapshot), Qt::LeftButton);
        QString snapped;
        QTRY_VERIFY_WITH_TIMEOUT(!(snapped += takeLinkTip()).isEmpty(), 10000);
        const QImage snap(snapped);
        QCOMPARE(snap.size(), QSize(1280, 720));
        QVERIFY(testsupport::shareNear(snap, kColours[0]) > 0.8);
        page->streamServer()->setMicrophoneFactory(
            [] { return new qcAudioCapture(nullptr, std::make_unique<ToneAudioInput>()); });
        QTest::mouseClick(page->barButton("m_btnMicOff"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(sims[0].protocols.talk->record().frames > 0, 5000);
        QTest::mouseClick(page->barButton("m_btnMicOn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(sims[0].protocols.talk->record().peerClosed, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sims[0].protocols.alarm->openConnections(), 1, 15000);
        sims[0].protocols.alarm->push(devicesim::AlarmEndpoint::message("1", "MOTION"));
        QTRY_COMPARE_WITH_TIMEOUT(page->barButton("m_btnAlarm")->status(), 2, 5000);
        QTest::mouseClick(page->barButton("m_btnAlarm"), Qt::LeftButton);
        auto *alarmWindow = page->findChild<qwAlarmEventManane *>();
        QVERIFY(alarmWindow);
        QCOMPARE(alarmWindow->table()->rowCount(), 1);
        QCOMPARE(alarmWindow->table()->item(0, 1)->text(), QString("127.0.0.2"));
        alarmWindow->close();
        QTRY_COMPARE_WITH_TIMEOUT(
            testsupport::filesUnder(page->streamServer()->captureRoot(), "PICV1_ALARM_127-0-0-2_*.jpg").size(), 2,
            10000);

        // 2b. PTZ on camA: "up" held and released moves and stops it; preset
        // 2 renamed with the set button and read back after selecting view 1
        // and view 0 again; brightness released at 70 and read back.
        auto *box = page->findChild<QToolBox *>("toolBox_Optlist");
        box->setCurrentIndex(1);
        qwPtzPanel *ptz = page->ptzPanel();
        sims[0].device->clearLog();
        auto *up = ptz->findChild<StatusButton *>("ptzButton_7");
        QTest::mousePress(up, Qt::LeftButton);
        QTest::qWait(300); // the operator's hold
        QTest::mouseRelease(up, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(panelsupport::posted(*sims[0].device, "/action/ptz").size(), 2, 5000);
        const QList<QByteArray> moves = panelsupport::posted(*sims[0].device, "/action/ptz");
        QVERIFY(moves[0].contains("<cmd>2</cmd><move><hori>0</hori><vert>0</vert></move>"));
        QVERIFY(moves[1].contains("<cmd>0</cmd><move><hori>0</hori><vert>0</vert></move>"));
        // As the views' clicks do; a press on a view would also start the
        // view swap, which follows the X pointer.
        auto selectAgain = [&] {
            page->onPlayviewClick(1);
            page->onPlayviewClick(0);
        };
        ptz->presetList()->setCurrentRow(1);
        QTest::mouseClick(ptz->findChild<StatusButton *>("presetButton_22"), Qt::LeftButton);
        QTest::keyClicks(ptz->presetRow(1)->nameEdit(), "Yard");
        QTest::keyClick(ptz->presetRow(1)->nameEdit(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(sims[0].device->subject("ptz").contains("<pname>Yard</pname>"), 5000);
        selectAgain();
        QTRY_COMPARE_WITH_TIMEOUT(ptz->presetRow(1)->nameLabel()->text(), QString("Yard"), 5000);
        box->setCurrentIndex(2);
        // Selecting the view again read the image settings anew: a drag
        // before that document is in goes back to the values shown.
        QTRY_VERIFY_WITH_TIMEOUT(panelsupport::finished(*page->deviceRequests(), qcLiveDeviceRequests::GetImageId),
                                 5000);
        QCoreApplication::processEvents();
        panelsupport::drag(page->imagePanel()->slider(1), {70});
        QTRY_VERIFY_WITH_TIMEOUT(sims[0].device->subject("videoimage").contains("<brightness>70</brightness>"), 5000);
        selectAgain();
        QTRY_COMPARE_WITH_TIMEOUT(page->imagePanel()->slider(1)->value(), 70, 5000);
        // Back to the device list, laid out again before rows are dragged from it.
        box->setCurrentIndex(0);
        QTRY_VERIFY(page->deviceList()->isVisible() && !page->ptzPanel()->isVisible());

        // 3. camB dropped on view 1, camC double-clicked: it lands in the
        // next free view, 2.
        dialog->show();
        addThroughDialog(1);
        addThroughDialog(2);
        dialog->close();
        QCOMPARE(page->deviceCount(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(1)->getStatus(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(2)->getStatus(), 2, 10000);
        // A real drag: the X server's pointer, driven from outside as a hand
        // would, takes camB's row onto view 1 while QDrag runs its own loop.
        // The press itself makes camB the current row the drop opens.
        page->deviceList()->setCurrentRow(0);
        QListWidget *list = page->deviceList();
        const QRect rowB = list->visualItemRect(list->item(1));
        const QPoint from = list->viewport()->mapToGlobal(QPoint(rowB.left() + 60, rowB.center().y()));
        const QPoint to = page->view(1)->mapToGlobal(page->view(1)->rect().center());
        QString script = QStringLiteral("xdotool mousemove --sync %1 %2 mousedown 1").arg(from.x()).arg(from.y());
        for (int step = 1; step <= 8; ++step)
            script += QStringLiteral(" && sleep 0.1 && xdotool mousemove --sync %1 %2")
                          .arg(from.x() + (to.x() - from.x()) * step / 8)
                          .arg(from.y() + (to.y() - from.y()) * step / 8);
        script += QStringLiteral(" && sleep 0.2 && xdotool mousemove --sync %1 %2 && sleep 0.2 && xdotool mouseup 1")
                      .arg(to.x() + 3)
                      .arg(to.y() + 3);
        QProcess hand;
        hand.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        QVERIFY(hand.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(viewOf(1), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(hand.state(), QProcess::NotRunning, 20000);
        QCOMPARE(hand.exitCode(), 0);
        QCOMPARE(page->selectedView(), 1);
        doubleClickRow(2);
        QCOMPARE(viewOf(2), 2);
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY2_WITH_TIMEOUT(
                shows(i, i),
                qPrintable(
                    QStringLiteral("view %1: %2 share %3").arg(i).arg(kColourNames[i]).arg(shareOf(i, kColours[i]))),
                20000);

        // 4. Nine views: all play their sub streams and go on drawing.
        QTest::mouseClick(page->barButton("m_btnSplit"), Qt::LeftButton);
        QVERIFY(page->splitPopup()->isVisible());
        QTest::mouseClick(page->splitPopup()->choice(3), Qt::LeftButton);
        QCOMPARE(page->viewsPerPage(), 9);
        QCOMPARE(g_database->getViewCount(), 9);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(glueOf(i)->getStreamType(), 1);
        QVERIFY(eachViewAdvances());
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(shows(i, i), 20000);

        // 5. Enlarged, view 1 plays the main stream; restored, the sub stream.
        QTest::mouseDClick(page->view(1), Qt::LeftButton);
        QVERIFY(page->isSingleView());
        QCOMPARE(glueOf(1)->getStreamType(), 0);
        QVERIFY(advances(1));
        QTest::mouseDClick(page->view(1), Qt::LeftButton);
        QVERIFY(!page->isSingleView());
        QCOMPARE(glueOf(1)->getStreamType(), 1);

        // 6. Next page and back.
        QTest::mouseClick(page->barButton("m_btnNextPage"), Qt::LeftButton);
        QCOMPARE(page->page(), 1);
        QCOMPARE(page->shownViews().first(), 9);
        QTest::mouseClick(page->barButton("m_btnPrevPage"), Qt::LeftButton);
        QCOMPARE(page->page(), 0);
        QCOMPARE(page->shownViews().first(), 0);

        // 7. Pressed on view 0 and released over view 2: camA and camC
        // change places, pictures and records alike.
        QCursor::setPos(page->view(0)->mapToGlobal(page->view(0)->rect().center()));
        mouse(page->view(0), QEvent::MouseButtonPress);
        QCursor::setPos(page->view(2)->mapToGlobal(page->view(2)->rect().center()));
        QTRY_COMPARE(page->viewIndexAtCursor(), 2);
        mouse(page->view(0), QEvent::MouseButtonRelease);
        QCOMPARE(viewOf(0), 2);
        QCOMPARE(viewOf(2), 0);
        // View 1, left alone by the swap, shows its camera too; a loaded
        // machine may take a moment to draw it after the page flip above.
        QTRY_VERIFY_WITH_TIMEOUT(shows(0, 2) && shows(2, 0) && shows(1, 1), 20000);

        // 8. Full screen and back: the pictures go on.
        QTest::mouseClick(page->barButton("m_btnFullscreen"), Qt::LeftButton);
        QVERIFY(page->isFullScreen());
        QCOMPARE(page->videoArea()->windowFlags() & 0xfff, Qt::WindowFlags(0x801));
        QVERIFY(eachViewAdvances());
        QTest::keyClick(page->videoArea(), Qt::Key_Escape);
        QVERIFY(!page->isFullScreen());
        QVERIFY(!page->videoArea()->isWindow());
        QVERIFY(eachViewAdvances());
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(shows(viewOf(i), i), 20000);

        // 9. The playback page pauses every player; back on the live page
        // they draw again.
        QTest::mouseClick(w->menuButton(1), Qt::LeftButton);
        QCOMPARE(w->pages()->currentIndex(), 1);
        for (_st_view_item *record : page->viewRecords())
            QVERIFY(record->camera->player()->isPaused());
        QVERIFY(allStandStill());
        QTest::mouseClick(w->menuButton(0), Qt::LeftButton);
        QCOMPARE(w->pages()->currentIndex(), 0);
        for (_st_view_item *record : page->viewRecords())
            QVERIFY(!record->camera->player()->isPaused());
        QVERIFY(eachViewAdvances());

        // 10. camC refuses the login: "No Video" in its view. Accepted
        // again, its picture returns.
        sims[2].device->setCredentials("admin", "changed");
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(2)->getStatus(), 4, 12000);
        QVERIFY(glueOf(viewOf(2))->noVideoWidget()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(showsNoVideo(viewOf(2)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(shows(viewOf(1), 1), 20000);
        sims[2].device->setCredentials("admin", "1234");
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(2)->getStatus(), 2, 12000);
        QVERIFY(!glueOf(viewOf(2))->noVideoWidget()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(shows(viewOf(2), 2), 20000);

        // 11. camA's sub stream changes to 320x240: its view's glue is told
        // the new size and the new pictures (the test pattern) show.
        const int viewA = viewOf(0);
        QCOMPARE(glueOf(viewA)->getStreamType(), 1);
        sims[0].protocols.live->switchClip(1, "h264-240p25.h264", 320, 240);
        QTRY_COMPARE_WITH_TIMEOUT(glueOf(viewA)->player()->videoWidth(), 320, 15000);
        QCOMPARE(glueOf(viewA)->player()->videoHeight(), 240);
        QVERIFY(advances(viewA));
        QTRY_VERIFY_WITH_TIMEOUT(shareOf(viewA, kColours[0]) < 0.2, 20000);

        // 12. camA's password changed through the modify dialog, after the
        // device expects it: new stream requests with the new login.
        sims[0].device->setCredentials("admin", "4321");
        page->onDevlistButtonClick(0, 8);
        auto *modify = page->findChild<qwModifyDevice *>();
        QVERIFY(modify);
        const int requestsBefore = sims[0].device->requests().size();
        modify->form()->passwordEdit()->setText("4321");
        QTest::mouseClick(modify->confirmButton(), Qt::LeftButton);
        QCOMPARE(fixture.query("SELECT password FROM devices WHERE devname='camA'"), QStringLiteral("4321"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QList<devicesim::LoggedRequest> requests = sims[0].device->requests();
                for (int k = requestsBefore; k < requests.size(); ++k)
                    if (requests[k].query.contains("subject=liveplay") && requests[k].password == "4321" &&
                        requests[k].authorized)
                        return true;
                return false;
            }(),
            10000);
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(0)->getStatus(), 2, 12000);

        // 13. camB removed: row, view, stored rows and every connection gone.
        const int viewB = viewOf(1);
        QVERIFY(viewB >= 0);
        page->onDevlistButtonClick(1, 0x10);
        QCOMPARE(page->deviceCount(), 2);
        QVERIFY(!page->viewRecord(viewB));
        QVERIFY(!page->viewToolbar(viewB));
        QCOMPARE(page->viewRecords().size(), 2);
        // camC is row 1 now, still in its view.
        QCOMPARE(viewOf(1), 0);
        QCOMPARE(fixture.query("SELECT count(*) FROM devices WHERE address='127.0.0.3'"), QStringLiteral("0"));
        QCOMPARE(fixture.query("SELECT count(*) FROM schedules WHERE ipaddr='127.0.0.3'"), QStringLiteral("0"));
        QVERIFY(!page->streamServer()->unitFor("127.0.0.3"));
        QTRY_COMPARE_WITH_TIMEOUT(
            sims[1].device->openConnections([](const devicesim::LoggedRequest &) { return true; }), 0, 5000);

        // 14. Sixty-four views: camA and camC play their sub streams in small
        // views.
        page->onBtnPlayviewChange(60);
        QCOMPARE(page->shownViews().size(), 64);
        for (_st_view_item *record : page->viewRecords())
            QCOMPARE(record->camera->getStreamType(), 1);
        QVERIFY(eachViewAdvances());

        // 15. Closing the window ends the page and every thread it started.
        QTest::mouseClick(w->closeButton(), Qt::LeftButton);
        QTRY_VERIFY(m_page.isNull());
        delete w;
        fixture.flushLog();
        const QString log =
            testsupport::RunFolder::query(fixture.logFile(), "SELECT logdecl||'|'||logtype FROM systemlogs");
        QCOMPARE(log.count("add device|1"), 3);
        QVERIFY(log.contains("modify device|1"));
        QVERIFY(log.contains("delete device|1"));
        QTRY_VERIFY2(testsupport::leftOver(threadsBefore).isEmpty(),
                     qPrintable(testsupport::leftOver(threadsBefore).join(' ')));
    }
};

int main(int argc, char **argv)
{
    // The players draw into the views' windows from their own threads.
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    EndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_e2e.moc"
