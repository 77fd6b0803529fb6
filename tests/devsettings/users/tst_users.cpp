#include "devsetfixture.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwdevsetusers.h"
#include "devsettings/qwuserinformations.h"
#include "tests/support/loopback.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>

using namespace devsetfixture;

namespace {

QByteArray user(const QByteArray &name, int group)
{
    QByteArray xml = "<user>";
    if (!name.isNull())
        xml += "<name>" + name + "</name>";
    if (group >= 0)
        xml += "<group>" + QByteArray::number(group) + "</group>";
    return xml + "<permit><config>7</config><operation>9</operation></permit></user>";
}

} // namespace

class UsersTest : public QObject, public PageCase<qwDevsetUsers>
{
    Q_OBJECT

    QTableView *table() { return child<QTableView>(m_page.get(), "tableView_Users"); }
    QPushButton *button(const char *name) { return child<QPushButton>(m_page.get(), name); }
    QStringList column(int c)
    {
        QStringList cells;
        for (int r = 0; r < table()->model()->rowCount(); ++r)
            cells << table()->model()->index(r, c).data().toString();
        return cells;
    }

    void load(int rows)
    {
        m_page->OnInitParameters(124);
        QTRY_COMPARE(table()->model()->rowCount(), rows);
    }
    void clickRow(int row)
    {
        const QRect cell = table()->visualRect(table()->model()->index(row, 1));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // The one dialog the page opened.
    qwUserInformations *dialog()
    {
        const auto dialogs = m_page->findChildren<qwUserInformations *>();
        return dialogs.size() == 1 ? dialogs.first() : nullptr;
    }
    void fill(qwUserInformations *d, const QString &name, const QString &pwd, const QString &confirm)
    {
        if (!name.isNull())
            child<QLineEdit>(d, "lineEdit_Name")->setText(name);
        child<QLineEdit>(d, "lineEdit_Password")->setText(pwd);
        child<QLineEdit>(d, "lineEdit_Confirm")->setText(confirm);
        child<QPushButton>(d, "pushButton_Save")->click();
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        QVERIFY(open());
        m_page->resize(1140, 680);
        m_page->show();
    }
    void cleanup() { close(); }

    void rows()
    {
        m_fx->device().setSubject("user", "<response>" + user("admin", 0) + user("skipped", 3) + user("op", 1) +
                                              user("view", 2) + user("nogroup", -1) + user(QByteArray(), 1) +
                                              "</response>");
        load(5);
        QCOMPARE(column(0), (QStringList{"1", "2", "3", "4", "5"}));
        QCOMPARE(column(1), (QStringList{"admin", "op", "view", "nogroup", ""}));
        const QString admins = langText(36, 48, "admingroup");
        const QString operators = langText(36, 48, "optgroup");
        QCOMPARE(column(2), (QStringList{admins, operators, langText(37, 125, "viewertype"), admins, operators}));
        QCOMPARE(m_page->users().at(1).config, 7);
        QCOMPARE(m_page->users().at(1).operation, 9);

        // Row 2 acts on its own user, not on the skipped one.
        clickRow(2);
        button("pushButton_Delete")->click();
        QVERIFY(m_fx->waitAnswered("POST", "user&do=del", 1));
        QVERIFY(m_fx->requests("POST", "user&do=del").at(0).body.contains("<name>view</name>"));
    }

    void emptiedOrKept()
    {
        load(3);
        // A closed port: unchanged.
        m_page->setDeviceInfo("127.0.0.1", QString::number(testsupport::closedPort()), "admin", "1234");
        m_page->OnInitParameters(124);
        QTest::qWait(300);
        QCOMPARE(table()->model()->rowCount(), 3);
        // An error reply with a body is no list either: kept, and said.
        m_fx->login(*m_page);
        popupKeys(m_page.get());
        m_fx->device().addFault("get:user", Fault::status(500, "<response><status>11</status></response>"), 1);
        m_page->OnInitParameters(124);
        QVERIFY(m_fx->waitAnswered("GET", "user", 2));
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_readfailed"});
        QCOMPARE(table()->model()->rowCount(), 3);
    }

    void remove_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<int>("reads");
        QTest::newRow("200") << 200 << "tip_delusersecc" << 2;
        QTest::newRow("500") << 500 << "tip_delusererr" << 1;
    }

    void remove()
    {
        QFETCH(int, status);
        QFETCH(QString, tip);
        QFETCH(int, reads);
        load(3);
        // No current row: nothing.
        button("pushButton_Delete")->click();
        m_page->OnBtnDeleteClicked();
        m_page->OnBtnModifyClicked();
        QVERIFY(!dialog());
        if (status != 200)
            m_fx->device().addFault("set:user", Fault::status(status), 1);
        clickRow(1);
        button("pushButton_Delete")->click();
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{tip});
        QCOMPARE(m_fx->count("POST", "user&do=del"), 1);
        QCOMPARE(m_fx->requests("POST", "user&do=del").at(0).body,
                 QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                            "<request><user ver=\"2.0\"><name>operator1</name></user></request>"));
        QVERIFY(m_fx->waitAnswered("GET", "user", reads));
        QTRY_COMPARE(table()->model()->rowCount(), status == 200 ? 2 : 3);
    }

    // The first account is never deleted, by click or by keyboard.
    void firstRowStays()
    {
        load(3);
        clickRow(0);
        QVERIFY(!button("pushButton_Delete")->isEnabled());
        QVERIFY(button("pushButton_Modify")->isEnabled());
        clickRow(2);
        QVERIFY(button("pushButton_Delete")->isEnabled());
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Up);
        QTest::keyClick(table(), Qt::Key_Up);
        QCOMPARE(table()->currentIndex().row(), 0);
        QVERIFY(!button("pushButton_Delete")->isEnabled());
        m_page->OnBtnDeleteClicked();
        QTest::qWait(200);
        QCOMPARE(m_fx->count("POST", "user&do=del"), 0);
    }

    void escapedName()
    {
        m_fx->device().setSubject("user", "<response>" + user("admin", 0) + user("a&amp;b&lt;c", 1) + "</response>");
        load(2);
        QCOMPARE(column(1).at(1), QStringLiteral("a&b<c"));
        clickRow(1);
        button("pushButton_Delete")->click();
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_delusersecc"});
        QVERIFY(m_fx->requests("POST", "user&do=del").at(0).body.contains("<name>a&amp;b&lt;c</name>"));
        QTRY_COMPARE(column(1), QStringList{"admin"});
    }

    // Changing the password of the page's own account hands the new login on.
    void modifyOwnAccount()
    {
        load(3);
        QSignalSpy changes(m_page.get(), &qwDevsetUsers::sigUserinfoChange);
        table()->setCurrentIndex(table()->model()->index(0, 0));
        m_page->OnTableViewDoubleClick(table()->model()->index(0, 0));
        qwUserInformations *d = dialog();
        QVERIFY(d);
        QCOMPARE(d->titleLabel()->text(), langText(37, 125, "deluser"));
        QVERIFY(child<QLineEdit>(d, "lineEdit_Name")->isReadOnly());
        fill(d, QString(), "pw2", "pw2");
        QTRY_COMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0), (QVariantList{"admin", "pw2"}));
        QVERIFY(m_fx->requests("POST", "user&do=modify")
                    .at(0)
                    .body.contains("<name>admin</name><password>pw2</password><group>0</group>"
                                   "<permit><config>255</config><operation>255</operation></permit>"));
        QVERIFY(m_fx->waitAnswered("GET", "user", 2));
        const LoggedRequest reread = m_fx->requests("GET", "user").at(1);
        QCOMPARE(reread.password, QStringLiteral("pw2"));
        QCOMPARE(reread.status, 200);
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_mdifyusersucc"});

        // Another account, or a new one: nothing to hand on. The page takes
        // a modify only once its re-read has come back.
        QTRY_VERIFY(!dialog());
        QTRY_VERIFY(m_page->findChild<DevsetReadState *>()->isRead());
        table()->setCurrentIndex(table()->model()->index(1, 0));
        m_page->OnBtnModifyClicked();
        fill(dialog(), QString(), "x", "x");
        QVERIFY(m_fx->waitAnswered("GET", "user", 3));
        QTRY_VERIFY(!dialog());
        m_page->OnBtnAddUserClicked();
        fill(dialog(), "guest1", "g", "g");
        QVERIFY(m_fx->waitAnswered("GET", "user", 4));
        QTRY_COMPARE(table()->model()->rowCount(), 4);
        QVERIFY(m_fx->requests("POST", "user&do=add")
                    .at(0)
                    .body.contains("<permit><config>0</config><operation>0</operation></permit>"));
        QCOMPARE(changes.count(), 1);
    }

    // An account is changed under its whole name, never under the part of
    // it that fits the name field.
    void modifyUnderTheWholeName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("16 characters") << QByteArray("maintenance_user");
        QTest::newRow("17 characters") << QByteArray("maintenance_use01");
        QTest::newRow("18 characters") << QByteArray("maintenance_user01");
    }
    void modifyUnderTheWholeName()
    {
        QFETCH(QByteArray, name);
        m_fx->device().setSubject("user", "<response>" + user("admin", 0) + user(name, 2) + "</response>");
        load(2);
        table()->setCurrentIndex(table()->model()->index(1, 0));
        m_page->OnBtnModifyClicked();
        QCOMPARE(child<QLineEdit>(dialog(), "lineEdit_Name")->text(), QString(name));
        fill(dialog(), QString(), "pw2", "pw2");
        QVERIFY(m_fx->waitAnswered("POST", "user&do=modify", 1));
        QVERIFY(m_fx->requests("POST", "user&do=modify").at(0).body.contains("<name>" + name + "</name>"));
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_mdifyusersucc"});
        QVERIFY(m_fx->waitAnswered("GET", "user", 2));
        QTRY_COMPARE(column(1), (QStringList{"admin", QString(name)}));

        // A change reported for another name is no change of this account.
        QTRY_VERIFY(m_page->findChild<DevsetReadState *>()->isRead());
        QTRY_VERIFY(!dialog());
        table()->setCurrentIndex(table()->model()->index(1, 0));
        m_page->OnBtnModifyClicked();
        QVERIFY(dialog());
        QSignalSpy changes(m_page.get(), &qwDevsetUsers::sigUserinfoChange);
        m_page->OnOperationResult(true, QString(name).left(15), "pw3");
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_modifyusererr"});
        QCOMPARE(changes.count(), 0);
    }

    void addRefused_data()
    {
        QTest::addColumn<QStringList>("input"); // name, password, confirmation
        QTest::addColumn<QString>("tip");
        QTest::newRow("exists") << QStringList{"viewer1", "p", "p"} << "tip_usernameexist";
        QTest::newRow("mismatch") << QStringList{"new", "p", "q"} << "tip_notmatch";
        QTest::newRow("no password") << QStringList{"new", "", ""} << "tip_neednameorpwd";
        QTest::newRow("no name") << QStringList{"", "p", "p"} << "tip_neednameorpwd";
    }

    void addRefused()
    {
        QFETCH(QStringList, input);
        QFETCH(QString, tip);
        load(3);
        m_page->OnBtnAddUserClicked();
        qwUserInformations *d = dialog();
        QCOMPARE(d->titleLabel()->text(), langText(37, 125, "adduser"));
        fill(d, input[0], input[1], input[2]);
        QTRY_VERIFY(tipShown(d));
        QCOMPARE(popupKeys(d), QStringList{tip});
        QVERIFY(dialog());
        QCOMPARE(m_fx->count("POST", "user&do=add"), tip == "tip_usernameexist" ? 1 : 0);
    }
};

QTEST_MAIN(UsersTest)
#include "tst_users.moc"
