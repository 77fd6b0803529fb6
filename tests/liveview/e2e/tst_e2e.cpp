// The operator's story on the real main window under X: add devices through
// the dialog, watch them log in, change the grid, lose and regain a login,
// change a password, remove a device and close the window.

#include "app/basewindow.h"
#include "app/currentuser.h"
#include "app/database.h"
#include "app/shell/cmsclient.h"
#include "app/statusbutton.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwliveview.h"
#include "liveview/qwmodifydevice.h"
#include "liveview/qwselectmultmode.h"
#include "media/qcstreamserver.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/support/livepage.h"
#include "livedevices.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

namespace {

QStringList threadIds()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// Threads running now that did not run before.
QStringList leftOver(const QStringList& before)
{
    QStringList left;
    for (const QString& id : threadIds())
        if (!before.contains(id))
            left << id;
    return left;
}

int enabledMask(qwCameraItem* item)
{
    int mask = 0;
    for (int bit : {1, 2, 4, 8, 0x10})
        if (item->isOptionEnabled(bit))
            mask |= bit;
    return mask;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void operatorStory()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        std::vector<std::unique_ptr<devicesim::Device>> sims;
        for (const char* ip : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
            sims.push_back(livedevices::start(ip));
            QVERIFY(sims.back());
        }
        auto* w = new cmsclient(nullptr, "admin");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Taken before any device is listed: the page's threads then are its
        // stream service's alone.
        const QStringList threadsBefore = threadIds();
        QPointer<qwLiveView> page = w->liveView();
        QCOMPARE(w->pages()->currentWidget(), page.data());

        // 1. Add three devices through the dialog.
        auto* add = page->findChild<QPushButton*>("pushButton_AddDevice");
        QTest::mouseClick(add, Qt::LeftButton);
        auto* dialog = page->findChild<qwAddDevice*>();
        QVERIFY(dialog);
        const char* names[] = {"camA", "camB", "camC"};
        for (int i = 0; i < 3; ++i) {
            dialog->form()->nameEdit()->setText(names[i]);
            dialog->form()->addressEdit()->setText(sims[i]->address().toString());
            dialog->form()->portEdit()->setText(QString::number(sims[i]->port()));
            QTest::mouseClick(dialog->addButton(), Qt::LeftButton);
            QCOMPARE(page->deviceCount(), i + 1);
            QCOMPARE(page->cameraItem(i)->getStatus(), 1);
        }
        QCOMPARE(fixture.query("SELECT count(*) FROM devices WHERE indexid >= 1"), QStringLiteral("3"));
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(i)->getStatus(), 2, 8000);
            QCOMPARE(enabledMask(page->cameraItem(i)), 0x1f);
        }
        dialog->close();

        // 2. Nine views, then page forward and back.
        QTest::mouseClick(page->barButton("m_btnSplit"), Qt::LeftButton);
        QVERIFY(page->splitPopup()->isVisible());
        QTest::mouseClick(page->splitPopup()->choice(3), Qt::LeftButton);
        QCOMPARE(page->viewsPerPage(), 9);
        QCOMPARE(g_database->getViewCount(), 9);
        QTest::mouseClick(page->barButton("m_btnNextPage"), Qt::LeftButton);
        QCOMPARE(page->page(), 1);
        QCOMPARE(page->shownViews().first(), 9);
        QTest::mouseClick(page->barButton("m_btnPrevPage"), Qt::LeftButton);
        QCOMPARE(page->page(), 0);

        // 3. Full screen and back.
        QTest::mouseClick(page->barButton("m_btnFullscreen"), Qt::LeftButton);
        QVERIFY(page->isFullScreen());
        QVERIFY(page->videoArea()->isWindow());
        QTest::keyClick(page->videoArea(), Qt::Key_Escape);
        QVERIFY(!page->isFullScreen());
        QVERIFY(!page->videoArea()->isWindow());

        // 4. Another page of the main window and back.
        QTest::mouseClick(w->menuButton(1), Qt::LeftButton);
        QCOMPARE(w->pages()->currentIndex(), 1);
        QTest::mouseClick(w->menuButton(0), Qt::LeftButton);
        QCOMPARE(w->pages()->currentIndex(), 0);

        // 5. camC refuses the login, then accepts it again.
        sims[2]->setCredentials("admin", "changed");
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(2)->getStatus(), 4, 9000);
        sims[2]->setCredentials("admin", "1234");
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(2)->getStatus(), 2, 9000);

        // 6. camA's password changed through the modify dialog.
        sims[0]->setCredentials("admin", "4321");
        page->onDevlistButtonClick(0, 8);
        auto* modify = page->findChild<qwModifyDevice*>();
        QVERIFY(modify);
        modify->form()->passwordEdit()->setText("4321");
        QTest::mouseClick(modify->confirmButton(), Qt::LeftButton);
        QCOMPARE(fixture.query("SELECT password FROM devices WHERE devname='camA'"), QStringLiteral("4321"));
        QTRY_COMPARE_WITH_TIMEOUT(page->cameraItem(0)->getStatus(), 2, 9000);

        // 7. camB removed.
        page->onDevlistButtonClick(1, 0x10);
        QCOMPARE(page->deviceCount(), 2);
        QCOMPARE(fixture.query("SELECT count(*) FROM devices WHERE address='127.0.0.3'"), QStringLiteral("0"));
        QCOMPARE(fixture.query("SELECT count(*) FROM schedules WHERE ipaddr='127.0.0.3'"), QStringLiteral("0"));
        QVERIFY(!page->streamServer()->unitFor("127.0.0.3"));

        // 8. Sixty-four views.
        page->onBtnPlayviewChange(60);
        QCOMPARE(page->shownViews().size(), 64);

        // 9. Closing the window ends the page and every thread it started.
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(w->closeButton(), Qt::LeftButton);
        QTRY_VERIFY(page.isNull());
        QVERIFY(timer.elapsed() < 10000);
        delete w;
        fixture.flushLog();
        const QString log = testsupport::RunFolder::query(fixture.logFile(),
                                                          "SELECT logdecl||'|'||logtype FROM systemlogs");
        QCOMPARE(log.count("add device|1"), 3);
        QVERIFY(log.contains("modify device|1"));
        QVERIFY(log.contains("delete device|1"));
        QTRY_VERIFY2(leftOver(threadsBefore).isEmpty(), qPrintable(leftOver(threadsBefore).join(' ')));
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
