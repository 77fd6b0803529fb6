#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/isysinforwin.h"
#include "app/core/loghelper.h"
#include "app/shell/cmsclient.h"
#include "app/shell/qwunlockclient.h"
#include "app/widgets/statusbutton.h"
#include "app/widgets/stylesheets.h"
#include "liveview/qwliveview.h"
#include "localsettings/qwlocalsetting.h"
#include "platform/clock.h"
#include "playback/qwplayback.h"
#include "tests/support/appglobals.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "tests/support/runfolder.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

QStringList g_pageCalls;
QtMessageHandler g_previousHandler = nullptr;

void recordPageCalls(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (context.category && QByteArray(context.category) == "ardo.pages") {
        g_pageCalls << msg;
        return;
    }
    g_previousHandler(type, context, msg);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::RunFolder> m_folder;
    std::unique_ptr<testsupport::AppGlobals> m_globals;

    QStringList exitRows()
    {
        m_globals->flushLog();
        return testsupport::RunFolder::query("cmsclient.logx",
                                             "select logdecl||'|'||logtype||'|'||curuser from systemlogs")
            .split('\n', Qt::SkipEmptyParts);
    }

    static void showAndWait(QWidget &w)
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        g_previousHandler = qInstallMessageHandler(recordPageCalls);
    }

    void init()
    {
        m_folder = std::make_unique<testsupport::RunFolder>();
        QVERIFY(m_folder->isValid());
        m_globals = std::make_unique<testsupport::AppGlobals>();
        QVERIFY(m_globals->isValid());
        g_curUserName = "admin";
        g_pageCalls.clear();
    }

    void cleanup()
    {
        m_globals.reset();
        m_folder.reset();
    }

    void pageSwitching()
    {
        cmsclient w(nullptr, "admin");
        showAndWait(w);
        g_pageCalls.clear();

        QTest::mouseClick(w.menuButton(1), Qt::LeftButton);
        QCOMPARE(w.pages()->currentIndex(), 1);
        QCOMPARE(g_pageCalls, (QStringList{"pauseAllViews", "refreshPage", "resumePlayback"}));
        QCOMPARE(w.menuButton(1)->styleSheet(), QString::fromLatin1(styles::kMenuSelected));
        QCOMPARE(w.menuButton(0)->styleSheet(), QString::fromLatin1(styles::kMenuUnselected));
        QCOMPARE(w.playback()->deviceList()->rowCount(), 0);

        // A device added meanwhile shows after the next click.
        _st_device_item device;
        device.devname = "Gate";
        device.address = "127.0.0.5";
        device.port = "80";
        QVERIFY(g_database->addDevice(device) >= 0);
        g_pageCalls.clear();
        QTest::mouseClick(w.menuButton(1), Qt::LeftButton);
        QCOMPARE(g_pageCalls, (QStringList{"pauseAllViews", "refreshPage", "resumePlayback"}));
        QCOMPARE(w.playback()->deviceList()->rowCount(), 1);

        g_pageCalls.clear();
        QTest::mouseClick(w.menuButton(2), Qt::LeftButton);
        QCOMPARE(w.pages()->currentIndex(), 2);
        QCOMPARE(g_pageCalls, (QStringList{"pauseAllViews", "pausePlayback", "reloadAll"}));
        QCOMPARE(w.localSetting()->userList()->rowCount(), 1);

        g_pageCalls.clear();
        QTest::mouseClick(w.menuButton(0), Qt::LeftButton);
        QCOMPARE(w.pages()->currentIndex(), 0);
        QCOMPARE(g_pageCalls, (QStringList{"pausePlayback", "resumeAllViews"}));
        QCOMPARE(w.menuButton(0)->styleSheet(), QString::fromLatin1(styles::kMenuSelected));
    }

    // Opened while another program holds the database, the window waits
    // for it once, not once per value its pages read; the playback list
    // then says that it could not be read instead of coming back empty.
    void openedWhileHeldWaitsOnce()
    {
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold("quendalix.xdt"));
        const quint64 waits = g_database->busyWaits();
        cmsclient w(nullptr, "admin");
        QCOMPARE(g_database->busyWaits(), waits + 1);
        QTest::mouseClick(w.menuButton(1), Qt::LeftButton);
        QCOMPARE(w.playback()->deviceList()->rowCount(), 1);
        QCOMPARE(w.playback()->deviceList()->item(0, 0)->text(),
                 QStringLiteral("The database is busy: another program is holding it"));
        holder.reset();
        QCoreApplication::processEvents();
        QTest::mouseClick(w.menuButton(1), Qt::LeftButton);
        QCOMPARE(w.playback()->deviceList()->rowCount(), 0);
        w.close();
    }

    void cpuIndicator()
    {
        cmsclient w(nullptr, "admin");
        // Only the values of this test reach the indicator.
        QObject::disconnect(w.sampler(), nullptr, &w, nullptr);
        QLabel *cpu = w.cpuLabel();
        qint64 key = cpu->pixmap(Qt::ReturnByValue).cacheKey();
        QList<int> changedAt;
        for (int value : {30, 61, 70, 80, 81, 60}) {
            w.onCPULoad(value);
            if (cpu->pixmap(Qt::ReturnByValue).cacheKey() != key)
                changedAt << value;
            key = cpu->pixmap(Qt::ReturnByValue).cacheKey();
        }
        QCOMPARE(changedAt, (QList<int>{61, 81, 60}));
        QVERIFY(cpu->toolTip().isEmpty());

        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(cpu, &enter);
        w.onCPULoad(42);
        QCOMPARE(cpu->toolTip(), QStringLiteral("CPU load: 42%"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(cpu, &leave);
        w.onCPULoad(55);
        QCOMPARE(cpu->toolTip(), QStringLiteral("CPU load: 42%"));
    }

    void clockTicks()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 5, 1), QTime(8, 5, 9)));
        cmsclient w(nullptr, "admin");
        w.setClock(&clock);
        QTRY_COMPARE_WITH_TIMEOUT(w.clockLabel()->text(), QStringLiteral("08:05:09"), 2500);
        clock.advance(1000);
        QTRY_COMPARE_WITH_TIMEOUT(w.clockLabel()->text(), QStringLiteral("08:05:10"), 2500);
        clock.set(QDateTime(QDate(2024, 5, 1), QTime(23, 59, 59)));
        QTRY_COMPARE_WITH_TIMEOUT(w.clockLabel()->text(), QStringLiteral("23:59:59"), 2500);
    }

    void lockScreen()
    {
        _st_user_item bob;
        bob.username = "bob";
        bob.password = "bobpw";
        QCOMPARE(g_database->addUser(bob), 0);

        cmsclient w(nullptr, "admin");
        showAndWait(w);
        QTest::mouseClick(w.customButton(BaseWindow::CustomFirst), Qt::LeftButton);
        QPointer<qwUnlockClient> lock = w.lockScreen();
        QVERIFY(lock);
        QVERIFY(lock->isVisible());
        QCOMPARE(lock->windowModality(), Qt::WindowModal);
        QCOMPARE(lock->objectName(), QStringLiteral("widget_LockClient"));
        QVERIFY((lock->geometry().center() - w.geometry().center()).manhattanLength() <= 2);
        QVERIFY(w.customButton(BaseWindow::CustomSecond)->isVisible());
        QVERIFY(!w.customButton(BaseWindow::CustomFirst)->isVisible());

        lock->passwordEdit()->setText("wrong");
        QTest::mouseClick(lock->unlockButton(), Qt::LeftButton);
        QVERIFY(lock && lock->isVisible());
        QCOMPARE(lock->passwordEdit()->text(), QStringLiteral("wrong"));

        lock->passwordEdit()->setText("bobpw"); // valid, but not the locked user's
        QTest::mouseClick(lock->unlockButton(), Qt::LeftButton);
        QVERIFY(lock && lock->isVisible());

        QVERIFY(!lock->close()); // Alt+F4 or the window manager
        QTest::mouseClick(lock->closeButton(), Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY(lock && lock->isVisible());

        QSignalSpy unlocked(lock.data(), &qwUnlockClient::sigUnlock);
        lock->passwordEdit()->setText("admin");
        lock->passwordEdit()->setFocus();
        QTest::keyClick(lock->passwordEdit(), Qt::Key_Return);
        QCOMPARE(unlocked.count(), 1);
        QTRY_VERIFY(lock.isNull());
        QVERIFY(w.customButton(BaseWindow::CustomFirst)->isVisible());
        QVERIFY(!w.customButton(BaseWindow::CustomSecond)->isVisible());

        // It can be locked again.
        QTest::mouseClick(w.customButton(BaseWindow::CustomFirst), Qt::LeftButton);
        QVERIFY(w.lockScreen());
        QVERIFY(w.lockScreen() != nullptr && w.lockScreen()->isVisible());
        w.lockScreen()->passwordEdit()->setText("admin");
        QTest::mouseClick(w.lockScreen()->unlockButton(), Qt::LeftButton);
        QTRY_VERIFY(!w.lockScreen());
    }

    // A lock screen that cannot read the users while another program holds
    // the database says so and stays; the right password unlocks once free.
    void lockScreenWhileHeld()
    {
        cmsclient w(nullptr, "admin");
        showAndWait(w);
        QTest::mouseClick(w.customButton(BaseWindow::CustomFirst), Qt::LeftButton);
        QPointer<qwUnlockClient> lock = w.lockScreen();
        QVERIFY(lock);
        _st_user_item admin;
        QVERIFY(g_database->findUser(admin, "admin"));
        QVERIFY(g_database->updateUser(admin)); // the users are read anew at the next use
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold("quendalix.xdt"));
        QSignalSpy unlocked(lock.data(), &qwUnlockClient::sigUnlock);
        lock->passwordEdit()->setText("admin");
        QTest::mouseClick(lock->unlockButton(), Qt::LeftButton);
        QCOMPARE(unlocked.count(), 0);
        QCOMPARE(testsupport::popupKeys(lock), QStringList{"tip_databasebusy"});
        QVERIFY2(exitRows().contains("database busy|3|admin"), qPrintable(exitRows().join(", ")));
        holder.reset();
        QTest::mouseClick(lock->unlockButton(), Qt::LeftButton);
        QCOMPARE(unlocked.count(), 1);
        QTRY_VERIFY(lock.isNull());
    }

    void closeWritesExitAndStops_data()
    {
        QTest::addColumn<bool>("titleBar");
        QTest::newRow("close()") << false;
        QTest::newRow("title-bar button") << true;
    }

    void closeWritesExitAndStops()
    {
        QFETCH(bool, titleBar);
        cmsclient w(nullptr, "admin");
        showAndWait(w);
        QPointer<ISysinforWin> sampler = w.sampler();
        QVERIFY(sampler && sampler->isRunning());
        QElapsedTimer clock;
        qint64 finishedAt = -1;
        connect(
            sampler.data(), &QThread::finished, this, [&]() { finishedAt = clock.elapsed(); }, Qt::DirectConnection);
        QPointer<QWidget> pages[] = {w.liveView(), w.playback(), w.localSetting()};
        QSignalSpy closing(&w, &BaseWindow::sigCloseWindw);

        clock.start();
        if (titleBar)
            QTest::mouseClick(w.closeButton(), Qt::LeftButton);
        else
            QVERIFY(w.close());
        QVERIFY(!w.isVisible());
        // Woken from its waits, the sampler ends at once rather than after its
        // 1.5 s cycle (the bound leaves room for a loaded test machine).
        QVERIFY(finishedAt >= 0);
        QVERIFY2(finishedAt < 500, qPrintable(QString::number(finishedAt)));
        QVERIFY(sampler.isNull());
        QVERIFY(!w.sampler());
        for (auto &page : pages)
            QVERIFY(page.isNull());
        QCOMPARE(closing.count(), titleBar ? 2 : 1);

        // A second close does not write a second record.
        w.close();
        QCOMPARE(exitRows(), QStringList{"exit cmslient|1|admin"});
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
