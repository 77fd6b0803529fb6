#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/shell/cmsclient.h"
#include "app/shell/qwlogin.h"
#include "tests/support/appglobals.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "tests/support/readable.h"
#include "tests/support/runfolder.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

class TestLogin : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::RunFolder> m_folder;
    std::unique_ptr<testsupport::AppGlobals> m_globals;

    QStringList logRows(const QString &columns = "logdecl||'|'||curuser||'|'||logtype")
    {
        m_globals->flushLog();
        return testsupport::RunFolder::query("cmsclient.logx", "select " + columns + " from systemlogs")
            .split('\n', Qt::SkipEmptyParts);
    }

    void start()
    {
        m_globals = std::make_unique<testsupport::AppGlobals>();
        QVERIFY(m_globals->isValid());
    }

    static void attempt(qwLogin &login, const QString &name, const QString &password)
    {
        login.userEdit()->setText(name);
        login.passwordEdit()->setText(password);
        QTest::mouseClick(login.loginButton(), Qt::LeftButton);
    }

    static void closeMainWindow(qwLogin &login)
    {
        if (login.mainWindow()) {
            login.mainWindow()->close();
            delete login.mainWindow();
        }
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void init()
    {
        m_folder = std::make_unique<testsupport::RunFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        m_globals.reset();
        m_folder.reset();
    }

    void emptyFieldsLogNothing()
    {
        start();
        qwLogin login;
        attempt(login, "", "admin");
        QCOMPARE(login.messageLabel()->text(), QStringLiteral("Please enter user name and password"));
        attempt(login, "admin", "");
        QCOMPARE(login.messageLabel()->text(), QStringLiteral("Please enter user name and password"));
        QVERIFY(!login.mainWindow());
        QCOMPARE(logRows(), QStringList());
    }

    void failuresAreLoggedAndShownForAWhile()
    {
        start();
        qwLogin login;
        attempt(login, "Admin", "admin"); // names compare case-sensitively
        QCOMPARE(login.messageLabel()->text(), QStringLiteral("Wrong user name or password"));
        QCOMPARE(login.userEdit()->text(), QStringLiteral("Admin"));
        attempt(login, "admin", "Admin");
        attempt(login, "nobody", "x1");
        QVERIFY(!login.mainWindow());
        QCOMPARE(g_curUserRights, 0u);
        // The message goes after a few seconds.
        QTRY_VERIFY_WITH_TIMEOUT(login.messageLabel()->text().isEmpty(), 8000);

        QCOMPARE(logRows(), (QStringList{"login failed|Admin|1", "login failed|admin|1", "login failed|nobody|1"}));
    }

    // The red of a refused login reads on the window's light ground.
    void messageReadable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::newRow("missing password") << "admin"
                                          << "";
        QTest::newRow("wrong password") << "admin"
                                        << "nope";
    }
    void messageReadable()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        start();
        qwLogin login;
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        attempt(login, name, password);
        QVERIFY(!login.messageLabel()->text().isEmpty());
        const testsupport::PaintedText t = testsupport::paintedText(login.messageLabel());
        const QString seen = QStringLiteral("text #%1 on #%2: %3:1")
                                 .arg(t.text & 0xffffff, 6, 16, QLatin1Char('0'))
                                 .arg(t.background & 0xffffff, 6, 16, QLatin1Char('0'))
                                 .arg(t.contrast, 0, 'f', 2);
        QVERIFY2(!t.clipped, qPrintable(seen));
        QVERIFY2(testsupport::contrastRatio(t.background, qRgb(0xef, 0xef, 0xef)) < 1.1, qPrintable(seen));
        QVERIFY2(qRed(t.text) > 2 * qMax(qGreen(t.text), qBlue(t.text)), qPrintable(seen)); // still a red
        QVERIFY2(t.contrast >= 4.5, qPrintable(seen));
    }

    void onlyLettersAndDigits()
    {
        start();
        qwLogin login;
        login.show();
        QTest::keyClicks(login.userEdit(), "ab_c d!e'f;1");
        QKeyEvent accented(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("\xc3\xa9"));
        QApplication::sendEvent(login.userEdit(), &accented);
        QTest::keyClicks(login.userEdit(), "234567890123456789");
        QCOMPARE(login.userEdit()->text(), QStringLiteral("abcdef1234567890"));
        QTest::keyClicks(login.passwordEdit(), "p@ss w0rd");
        QCOMPARE(login.passwordEdit()->text(), QStringLiteral("pssw0rd"));
    }

    void autoLoginStoredOnlyWhenChecked()
    {
        start();
        {
            qwLogin login;
            login.show();
            attempt(login, "admin", "admin");
            QVERIFY(login.mainWindow());
            QVERIFY(login.mainWindow()->isVisible());
            QVERIFY(!login.isVisible());
            QCOMPARE(g_curUserName, QStringLiteral("admin"));
            QCOMPARE(g_curUserRights, 511u);
            closeMainWindow(login);
        }
        QCOMPARE(testsupport::RunFolder::query("quendalix.xdt",
                                               "select autologin||'|'||ifnull(autoname,'') from systeminfo"),
                 QStringLiteral("0|"));
        {
            qwLogin login;
            login.show();
            login.autoLoginBox()->setChecked(true);
            attempt(login, "admin", "admin");
            QVERIFY(login.mainWindow());
            closeMainWindow(login);
        }
        QCOMPARE(testsupport::RunFolder::query("quendalix.xdt", "select autologin||'|'||autoname from systeminfo"),
                 QStringLiteral("1|admin"));
        QCOMPARE(logRows().count("login successful|admin|1"), 2);
    }

    // The choice to log in alone next time, refused by the database: the
    // login holds, the main window says so, the log keeps the reason, and
    // the switch is never stored without its name.
    void refusedAutoLoginIsTold_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("stored");
        QTest::newRow("name refused") << "autoname"
                                      << "0|";
        QTest::newRow("switch refused") << "autologin"
                                        << "0|admin";
    }
    void refusedAutoLoginIsTold()
    {
        QFETCH(QString, column);
        QFETCH(QString, stored);
        QVERIFY(testsupport::RunFolder::exec("quendalix.xdt",
                                             QString("create trigger refuse before update of %1 on systeminfo "
                                                     "begin select raise(abort, 'not now'); end")
                                                 .arg(column)));
        start();
        qwLogin login;
        login.show();
        login.autoLoginBox()->setChecked(true);
        attempt(login, "admin", "admin");
        QVERIFY(login.mainWindow());
        QCOMPARE(g_curUserName, QStringLiteral("admin"));
        QCOMPARE(testsupport::popupKeys(login.mainWindow()), QStringList{"tip_databaseerr"});
        closeMainWindow(login);
        QCOMPARE(testsupport::RunFolder::query("quendalix.xdt",
                                               "select autologin||'|'||ifnull(autoname,'') from systeminfo"),
                 stored);
        m_globals->flushLog();
        QCOMPARE(testsupport::RunFolder::query("cmsclient.logx", "select lognote from systemlogs where logtype = 3"),
                 QStringLiteral("Auto login: the database refused the change: not now"));
    }

    // Return is what app.process types.
    void enterLogsIn()
    {
        start();
        qwLogin login;
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        login.userEdit()->setText("admin");
        login.passwordEdit()->setText("admin");
        login.passwordEdit()->setFocus();
        QTest::keyClick(login.passwordEdit(), Qt::Key_Enter);
        QVERIFY(login.mainWindow());
        closeMainWindow(login);
    }

    void withoutDatabase()
    {
        start();
        delete g_database;
        g_database = nullptr;
        qwLogin login;
        attempt(login, "admin", "admin");
        QCOMPARE(login.messageLabel()->text(), QStringLiteral("Database error"));
        QVERIFY(!login.mainWindow());
        QCOMPARE(logRows(), QStringList());
    }

    // Users that could not be read say nothing of the password: the
    // database is busy, for a typed login and for an automatic one, which
    // leaves the form to the operator.
    void heldDatabaseIsBusyNotAWrongPassword_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::newRow("typed") << false;
        QTest::newRow("automatic") << true;
    }
    void heldDatabaseIsBusyNotAWrongPassword()
    {
        QFETCH(bool, automatic);
        if (automatic)
            QVERIFY(
                testsupport::RunFolder::exec("quendalix.xdt", "update systeminfo set autologin=1, autoname='admin'"));
        start();
        qwLogin login;
        {
            testsupport::HeldLock holder;
            QVERIFY(holder.hold("quendalix.xdt"));
            if (automatic)
                login.show();
            else
                attempt(login, "admin", "admin");
        }
        QCOMPARE(login.messageLabel()->text(), QStringLiteral("The database is busy: another program is holding it"));
        QVERIFY(login.loginButton()->isEnabled() && login.userEdit()->isEnabled());
        QVERIFY(!login.mainWindow());
        QCOMPARE(logRows(), QStringList{QString("database busy|%1|3").arg(automatic ? "" : "admin")});
        attempt(login, "admin", "admin");
        QVERIFY(login.mainWindow());
        closeMainWindow(login);
    }

    void automaticLogin_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("rights");
        QTest::newRow("admin") << "admin" << 511u;
    }

    void automaticLogin()
    {
        QFETCH(QString, name);
        QFETCH(uint, rights);
        QVERIFY(testsupport::RunFolder::exec("quendalix.xdt",
                                             QString("update systeminfo set autologin=1, autoname='%1'").arg(name)));
        start();
        qwLogin login;
        QElapsedTimer clock;
        clock.start();
        login.show();
        QCOMPARE(login.passwordEdit()->text(), QStringLiteral("731905"));
        QCOMPARE(login.userEdit()->text(), name);
        QVERIFY(login.autoLoginBox()->isChecked());
        for (QWidget *w : {static_cast<QWidget *>(login.userEdit()), static_cast<QWidget *>(login.passwordEdit()),
                           static_cast<QWidget *>(login.autoLoginBox()), static_cast<QWidget *>(login.loginButton()),
                           static_cast<QWidget *>(login.cancelButton())})
            QVERIFY(!w->isEnabled());
        QCOMPARE(g_curUserRights, rights);
        QCOMPARE(g_curUserName, name);
        QVERIFY(!login.mainWindow());
        QTRY_VERIFY_WITH_TIMEOUT(login.mainWindow(), 2000);
        QVERIFY(clock.elapsed() >= 90);
        QVERIFY(login.mainWindow()->isVisible());
        QTRY_VERIFY(!login.isVisible());
        closeMainWindow(login);

        // Queued before the log thread had opened its file, and still written.
        QCOMPARE(logRows().first(), "login successful|" + name + "|1");
    }

    // A stored name no user has would be logged in without rights and
    // without a password to lift the lock screen with: the form is left to a
    // person, and the log says why.
    void automaticLoginNeedsItsUser_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("logged");
        const QString unknown = "login failed|%1|1|no local user has this name: automatic login not done";
        QTest::newRow("a user") << "guard"
                                << "login successful|guard|1|";
        QTest::newRow("no name") << ""
                                 << "login failed||1|no user name is stored: automatic login not done";
        QTest::newRow("unknown") << "ghost" << unknown.arg("ghost");
        QTest::newRow("deleted user") << "gone" << unknown.arg("gone");
        QTest::newRow("other case") << "Admin" << unknown.arg("Admin");
    }
    void automaticLoginNeedsItsUser()
    {
        QFETCH(QString, name);
        QFETCH(QString, logged);
        QVERIFY(testsupport::RunFolder::exec(
            "quendalix.xdt", QString("insert into users values('guard','pw',3,'',''), ('gone','pw',3,'','');"
                                     "delete from users where username='gone';"
                                     "update systeminfo set autologin=1, autoname='%1'")
                                 .arg(name)));
        start();
        qwLogin login;
        login.show();
        if (name == "guard") {
            QTRY_VERIFY_WITH_TIMEOUT(login.mainWindow(), 2000);
            QCOMPARE(g_curUserRights, 3u);
            closeMainWindow(login);
        } else {
            QVERIFY(login.loginButton()->isEnabled() && login.userEdit()->isEnabled());
            QVERIFY(!login.mainWindow());
            QCOMPARE(g_curUserRights, 0u);
        }
        QCOMPARE(logRows("logdecl||'|'||curuser||'|'||logtype||'|'||ifnull(lognote,'')").first(), logged);
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
