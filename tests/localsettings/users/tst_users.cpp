#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwusermgrdelegate.h"
#include "app/widgets/stylesheets.h"
#include "localsettings/qwadduser.h"
#include "localsettings/qwlocalusers.h"
#include "tests/support/appglobals.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "tests/support/runfolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using testsupport::AppGlobals;
using testsupport::popupKeys;
using testsupport::RunFolder;

namespace {

const QString kDb = QStringLiteral("quendalix.xdt");

QString sql(const QString &query)
{
    return RunFolder::query(kDb, query);
}

} // namespace

// The users sub-page as an operator drives it, inside a window that carries
// the main window's (light-table) style sheet.
class UsersPageTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<AppGlobals> m_globals;
    std::unique_ptr<QWidget> m_window;
    qwLocalUsers *m_page = nullptr;

    QTableWidget *table() { return m_page->userList(); }

    int rowOf(const QString &name)
    {
        for (int row = 0; row < table()->rowCount(); ++row)
            if (table()->item(row, 0)->text() == name)
                return row;
        return -1;
    }

    // A press and a release on the delegate's button in the cell.
    void pressCellButton(int row, int column)
    {
        const QRect cell = table()->visualRect(table()->model()->index(row, column));
        const QPoint at = qwUsermgrDelegate::buttonRect(cell).center();
        QTest::mousePress(table()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(table()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    qwAddUser *dialog() { return m_page->userDialog(); }

    void setRights(quint32 mask)
    {
        for (QCheckBox *box : dialog()->rightBoxes())
            box->setChecked(mask & box->property("rightBit").toUInt());
    }

    QString logged()
    {
        m_globals->flushLog();
        return RunFolder::query("cmsclient.logx", "select curuser,logdecl,lognote,logtype from systemlogs");
    }

    qwTipsDlg *askDialog() { return m_page->findChild<qwTipsDlg *>(); }
    bool asking()
    {
        for (qwTipsDlg *d : m_page->findChildren<qwTipsDlg *>())
            if (d->property("tipKey").toString() == "askdeleteuser")
                return true;
        return false;
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void init()
    {
        m_folder.reset(new RunFolder);
        QVERIFY(m_folder->isValid());
        QVERIFY(RunFolder::exec(kDb, "insert into users values('guard','pw',3,'Operator','gate')"));
        m_globals.reset(new AppGlobals);
        QVERIFY(m_globals->isValid());
        g_curUserName = QStringLiteral("admin");
        g_curUserRights = 511;
        m_window.reset(new QWidget);
        m_window->setStyleSheet(QLatin1String(styles::kMainWindow));
        m_page = new qwLocalUsers(m_window.get());
        m_window->resize(1000, 600);
        m_page->resize(1000, 600);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_page->reload();
        QCOMPARE(table()->rowCount(), 2);
        popupKeys(m_page);
    }
    void cleanup()
    {
        m_window.reset();
        m_globals.reset();
        m_folder.reset();
    }

    void rowsAndDarkLook()
    {
        const int row = rowOf("guard");
        QVERIFY(row >= 0);
        QCOMPARE(table()->columnCount(), 6);
        QCOMPARE(table()->item(row, 1)->text(), QString("Operator"));
        QCOMPARE(table()->item(row, 2)->text(), QString("gate"));
        QCOMPARE(table()->item(row, 3)->text(), QString("PTZ control, Snapshot"));
        QVERIFY(qobject_cast<qwUsermgrDelegate *>(table()->itemDelegate()));
        table()->clearSelection();
        const QImage shot = table()->viewport()->grab().toImage();
        // An empty spot of the first row's description, and the space below the rows.
        const QRect decl = table()->visualRect(table()->model()->index(0, 2));
        for (const QPoint &at : {QPoint(decl.right() - 4, decl.top() + 4), QPoint(10, shot.height() - 10)})
            QVERIFY2(qGray(shot.pixel(at)) < 80, qPrintable(QString::number(qGray(shot.pixel(at)))));
        QVERIFY(qGray(table()->item(row, 0)->foreground().color().rgb()) > 150 ||
                qGray(table()->palette().color(QPalette::Text).rgb()) > 150);
    }

    void addWithEveryRightAndQuotes()
    {
        m_page->addButton()->click();
        QVERIFY(dialog());
        QVERIFY(!dialog()->isModifying());
        const QString decl = "x');delete from users;-- \"gate 2\"";
        // Refused input stays in the dialog to be corrected.
        dialog()->nameEdit()->setText("o'neil \"night\"");
        dialog()->passwordEdit()->setText("p'w");
        dialog()->confirmEdit()->setText("p'W");
        dialog()->descriptionEdit()->setText(decl);
        dialog()->okButton()->click();
        QCOMPARE(popupKeys(m_page), QStringList{"tip_notmatch"});
        QVERIFY(dialog() && dialog()->isVisible());
        QCOMPARE(sql("select count(*) from users"), QString("2"));
        dialog()->confirmEdit()->setText("p'w");
        dialog()->groupBox()->setCurrentIndex(2);
        setRights(0x1ff);
        // Neither the name nor the password could be typed at the login.
        dialog()->okButton()->click();
        QCOMPARE(popupKeys(m_page), QStringList{"tip_loginnamechars"});
        const QString name = "oneilNight2";
        dialog()->nameEdit()->setText(name);
        dialog()->okButton()->click();
        QCOMPARE(popupKeys(m_page), QStringList{"tip_loginpwdchars"});
        QVERIFY(dialog() && dialog()->isVisible());
        QCOMPARE(sql("select count(*) from users"), QString("2"));
        dialog()->passwordEdit()->setText("pw");
        dialog()->confirmEdit()->setText("pw");
        dialog()->okButton()->click();
        QCOMPARE(popupKeys(m_page), QStringList{"tip_addusersucc"});
        QTRY_VERIFY(!dialog());
        QCOMPARE(table()->rowCount(), 3);
        const int row = rowOf(name);
        QVERIFY(row >= 0);
        QCOMPARE(table()->item(row, 2)->text(), decl);
        QCOMPARE(table()->item(row, 3)->text().split(", ").size(), 9);
        QCOMPARE(sql("select count(*) from users"), QString("3"));
        QCOMPARE(sql("select password,usertype,usergroup,userdecl from users where username='oneilNight2'"),
                 "pw|511|Super user|" + decl);
        QCOMPARE(logged(), "admin|add user|" + name + "|1");
    }

    void modifyButton()
    {
        _st_user_item guard;
        QVERIFY(g_database->getUser(guard, 1));
        QCOMPARE(guard.username, QString("guard"));
        guard.usertype = 67;
        QVERIFY(g_database->updateUser(guard));
        g_curUserName = QStringLiteral("guard");
        g_curUserRights = 67;
        m_page->reload();
        pressCellButton(rowOf("guard"), qwUsermgrDelegate::kModifyColumn);
        QVERIFY(dialog());
        QVERIFY(dialog()->isModifying());
        QVERIFY(dialog()->nameEdit()->isReadOnly());
        QCOMPARE(dialog()->nameEdit()->text(), QString("guard"));
        QCOMPARE(dialog()->descriptionEdit()->text(), QString("gate"));
        QCOMPARE(dialog()->user().usertype, 67);
        setRights(0x41);
        dialog()->descriptionEdit()->setText("yard");
        dialog()->okButton()->click();
        QCOMPARE(popupKeys(m_page), QStringList{"tip_modifyusersucc"});
        QTRY_VERIFY(!dialog());
        QCOMPARE(sql("select password,usertype,userdecl from users where username='guard'"), QString("pw|65|yard"));
        QCOMPARE(table()->item(rowOf("guard"), 3)->text(), QString("PTZ control, Local configuration"));
        // The logged-in user's own rights follow the change at once.
        QCOMPARE(g_curUserRights, 65u);
    }

    void deleteButton()
    {
        pressCellButton(rowOf("guard"), qwUsermgrDelegate::kDeleteColumn);
        QVERIFY(askDialog());
        askDialog()->findChild<QPushButton *>("pushButton_Cancel")->click();
        QTRY_VERIFY(!askDialog());
        QCOMPARE(sql("select count(*) from users"), QString("2"));
        QCOMPARE(popupKeys(m_page), QStringList{});

        pressCellButton(rowOf("guard"), qwUsermgrDelegate::kDeleteColumn);
        QVERIFY(askDialog());
        QCOMPARE(askDialog()->property("tipKey").toString(), QString("askdeleteuser"));
        // The confirmation names the user it deletes.
        QCOMPARE(askDialog()->findChild<QLabel *>("label_Tips")->text(), QString("Delete the user \"guard\"?"));
        askDialog()->findChild<QPushButton *>("pushButton_OK")->click();
        QTRY_VERIFY(!askDialog());
        QCOMPARE(popupKeys(m_page), QStringList{"tip_delusersecc"});
        QCOMPARE(sql("select count(*) from users where username='guard'"), QString("0"));
        QCOMPARE(rowOf("guard"), -1);
        QCOMPARE(logged(), QString("admin|delete user|guard|1"));
    }

    // An account change the database refuses (another program holds the
    // file) is told over the dialog that asked, which stays with what was
    // typed, and logged with the database's reason; the table stays.
    void heldDatabaseRefusal_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("record");
        const QString locked = ": database is locked|3";
        QTest::newRow("add") << "add"
                             << "admin|add user|clerk: the database refused the user" + locked;
        QTest::newRow("modify") << "modify"
                                << "admin|modify user|guard: the database refused the change" + locked;
        QTest::newRow("delete") << "delete"
                                << "admin|delete user|guard: the database refused the deletion" + locked;
    }
    void heldDatabaseRefusal()
    {
        QFETCH(QString, action);
        QFETCH(QString, record);
        QPushButton *confirm = nullptr;
        if (action == "add") {
            m_page->addButton()->click();
            QVERIFY(dialog());
            dialog()->nameEdit()->setText("clerk");
            dialog()->passwordEdit()->setText("pw");
            dialog()->confirmEdit()->setText("pw");
            confirm = dialog()->okButton();
        } else if (action == "modify") {
            pressCellButton(rowOf("guard"), qwUsermgrDelegate::kModifyColumn);
            QVERIFY(dialog());
            dialog()->descriptionEdit()->setText("yard");
            confirm = dialog()->okButton();
        } else {
            pressCellButton(rowOf("guard"), qwUsermgrDelegate::kDeleteColumn);
            QVERIFY(askDialog());
            confirm = askDialog()->findChild<QPushButton *>("pushButton_OK");
        }
        const QString before = sql("select * from users");
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold(kDb));
        confirm->click();
        // The question goes first; the answer must not go with it.
        QTRY_VERIFY(!asking());
        holder.reset();
        QCOMPARE(popupKeys(m_page), QStringList{"tip_databaseerr"});
        QCOMPARE(sql("select * from users"), before);
        QCOMPARE(table()->rowCount(), 2);
        if (action != "delete") {
            QVERIFY(dialog() && dialog()->isVisible());
            QCOMPARE(dialog()->nameEdit()->text(), QString(action == "add" ? "clerk" : "guard"));
            if (action == "modify")
                QCOMPARE(dialog()->descriptionEdit()->text(), QString("yard"));
        }
        QCOMPARE(logged(), record);
    }

    void refusals_data()
    {
        QTest::addColumn<quint32>("rights");
        QTest::addColumn<QString>("action"); // add, modify, delete: of the row named
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("tip");

        // clang-format off
        QTest::newRow("add without the right") << 0x3u << QString("add") << QString() << QString("tip_permdenied");
        QTest::newRow("modify without the right") << 0x3u << QString("modify") << QString("guard")
                                                  << QString("tip_permdenied");
        QTest::newRow("delete without the right") << 0x3u << QString("delete") << QString("guard")
                                                  << QString("tip_permdenied");
        QTest::newRow("delete the logged-in user") << 511u << QString("delete") << QString("admin")
                                                   << QString("tip_delcuruser");
        // clang-format on
    }
    void refusals()
    {
        QFETCH(quint32, rights);
        QFETCH(QString, action);
        QFETCH(QString, row);
        QFETCH(QString, tip);
        g_curUserRights = rights;
        if (action == "add")
            m_page->addButton()->click();
        else
            pressCellButton(rowOf(row),
                            action == "modify" ? qwUsermgrDelegate::kModifyColumn : qwUsermgrDelegate::kDeleteColumn);
        QVERIFY(!dialog());
        QVERIFY(!askDialog());
        QCOMPARE(popupKeys(m_page), QStringList{tip});
        QCOMPARE(sql("select count(*) from users"), QString("2"));
    }
};

QTEST_MAIN(UsersPageTest)
#include "tst_users.moc"
