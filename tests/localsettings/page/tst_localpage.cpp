#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/widgets/userrights.h"
#include "localsettings/qwlocalsetting.h"
#include "tests/support/appglobals.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "tests/support/runfolder.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QtTest>

#include <memory>

// Which sub-pages a user reaches from the page's buttons, by rights.
class TestLocalPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::RunFolder> m_folder;
    std::unique_ptr<testsupport::AppGlobals> m_globals;

    static QAbstractButton *button(qwLocalSetting &page, const char *name)
    {
        return page.findChild<QPushButton *>(QStringLiteral("pushButton_Local") + QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        m_folder = std::make_unique<testsupport::RunFolder>();
        QVERIFY(m_folder->isValid());
        m_globals = std::make_unique<testsupport::AppGlobals>();
        QVERIFY(m_globals->isValid());
    }

    void cleanupTestCase()
    {
        g_curUserRights = 0;
        m_globals.reset();
        m_folder.reset();
    }

    void subPageByRight_data()
    {
        QTest::addColumn<quint32>("rights");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("refused");
        const quint32 all = 0x1ff;
        const quint32 guard = userrights::PtzControl | userrights::Snapshot;
        QTest::newRow("all rights, options") << all << "Options" << int(qwLocalSetting::OptionsPage) << false;
        QTest::newRow("all rights, log") << all << "Log" << int(qwLocalSetting::LogPage) << false;
        QTest::newRow("guard, options") << guard << "Options" << int(qwLocalSetting::AboutPage) << true;
        QTest::newRow("guard, schedules") << guard << "Schedules" << int(qwLocalSetting::AboutPage) << true;
        QTest::newRow("guard, users") << guard << "Users" << int(qwLocalSetting::AboutPage) << true;
        QTest::newRow("guard, log") << guard << "Log" << int(qwLocalSetting::AboutPage) << true;
        QTest::newRow("guard, about") << guard << "About" << int(qwLocalSetting::AboutPage) << false;
        QTest::newRow("log only, log") << quint32(userrights::LogView) << "Log" << int(qwLocalSetting::LogPage)
                                       << false;
        QTest::newRow("schedules only, users")
            << quint32(userrights::ScheduleManagement) << "Users" << int(qwLocalSetting::SchedulesPage) << true;
    }

    void subPageByRight()
    {
        QFETCH(quint32, rights);
        QFETCH(QString, button);
        QFETCH(int, shown);
        QFETCH(bool, refused);
        g_curUserRights = rights;
        qwLocalSetting page;
        page.resize(1000, 600);
        page.show();
        page.reloadAll();
        QVERIFY(qwLocalSetting::mayShow(page.currentSubPage()));
        testsupport::popupKeys(&page);
        QAbstractButton *b = TestLocalPage::button(page, button.toLatin1().constData());
        QVERIFY(b);
        b->click();
        QCOMPARE(page.currentSubPage(), shown);
        QCOMPARE(testsupport::popupKeys(&page).contains(QStringLiteral("tip_permdenied")), refused);
        // The checked button always names the sub-page shown.
        QAbstractButton *checked = nullptr;
        for (QAbstractButton *candidate : page.findChildren<QAbstractButton *>())
            if (candidate->isCheckable() && candidate->isChecked())
                checked = candidate;
        QVERIFY(checked);
        const char *names[] = {"Options", "Schedules", "Users", "Log", "About"};
        QCOMPARE(checked->objectName(), QStringLiteral("pushButton_Local") + QLatin1String(names[shown]));
    }

    // A user without the right of the sub-page that was shown to the previous
    // user does not see it when the page is shown again.
    void reloadLeavesForbiddenSubPage()
    {
        g_curUserRights = 0x1ff;
        qwLocalSetting page;
        page.reloadAll();
        page.showSubPage(qwLocalSetting::UsersPage);
        g_curUserRights = userrights::LogView;
        page.reloadAll();
        QCOMPARE(page.currentSubPage(), int(qwLocalSetting::LogPage));
        g_curUserRights = 0;
        page.reloadAll();
        QCOMPARE(page.currentSubPage(), int(qwLocalSetting::AboutPage));
    }

    // Entered while another program holds the database, the page waits for
    // it once, and the sub-page shown says that it could not read instead
    // of showing blanks as values.
    void enteredWhileHeld_data()
    {
        QTest::addColumn<int>("subPage");
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("read");
        QTest::newRow("options") << int(qwLocalSetting::OptionsPage) << "checkBox_autologin" << false;
        QTest::newRow("schedules") << int(qwLocalSetting::SchedulesPage) << "listWidget_Schedules" << false;
        // The accounts were read whole when the page was made: that list
        // stands while the file is held.
        QTest::newRow("users") << int(qwLocalSetting::UsersPage) << "tableWidget_Users" << true;
    }
    void enteredWhileHeld()
    {
        QFETCH(int, subPage);
        QFETCH(QString, content);
        QFETCH(bool, read);
        g_curUserRights = 0x1ff;
        qwLocalSetting page;
        page.resize(1000, 600);
        page.show();
        page.showSubPage(subPage);
        QWidget *shown = page.findChild<QWidget *>(content);
        QVERIFY(shown);
        testsupport::popupKeys(&page);
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold(QStringLiteral("quendalix.xdt")));
        const quint64 waits = g_database->busyWaits();
        page.reloadAll();
        QCOMPARE(g_database->busyWaits(), waits + 1);
        QCOMPARE(shown->isEnabled(), read);
        QCOMPARE(testsupport::popupKeys(&page).contains(QStringLiteral("tip_databasebusy")), !read);
        holder.reset();
        QCoreApplication::processEvents();
        page.reloadAll();
        QVERIFY(shown->isEnabled());
        QCOMPARE(g_database->busyWaits(), waits + 1);
    }
};

QTEST_MAIN(TestLocalPage)
#include "tst_localpage.moc"
