#include "devsetfixture.h"
#include "devsettings/qwconnecttowifi.h"
#include "devsettings/qwmodifiwificon.h"
#include "platform/widgets/qipaddressedit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

using namespace devsetfixture;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Types the dotted text into the editor's four fields as they stand.
void type(QIPAddressEdit *edit, const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i)
        edit->field(i)->setText(parts.value(i));
}

} // namespace

class WifiDialogsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> m_fx;
    std::unique_ptr<QWidget> m_host;

    QPointer<qwConnectToWifi> join(const QString &essid, int auth, int alg, const QString &password = "1234")
    {
        auto *dialog = new qwConnectToWifi(m_host.get());
        dialog->setWifiInfo(essid, auth, alg, "127.0.0.1", m_fx->device().port(), "admin", password);
        dialog->show();
        return dialog;
    }
    QPointer<qwModifiWifiCon> address(int mode, const QStringList &v)
    {
        auto *dialog = new qwModifiWifiCon(m_host.get());
        dialog->setNetworkInfo(mode, v[0], v[1], v[2], v[3], v[4], "127.0.0.1", m_fx->device().port(), "admin", "1234");
        dialog->show();
        return dialog;
    }
    static QIPAddressEdit *field(QWidget *d, const char *name) { return child<QIPAddressEdit>(d, name); }
    static QPushButton *save(QWidget *d) { return child<QPushButton>(d, "pushButton_Save"); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_host = std::make_unique<QWidget>();
        m_host->show();
    }
    void cleanup()
    {
        m_host.reset();
        m_fx.reset();
    }

    void joinBody_data()
    {
        QTest::addColumn<QString>("essid");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QByteArray>("body");
        // The body's essid as sent, and its auth and alg codes.
        const auto row = [](const char *name, const QString &essid, int choice, const char *password, const char *login,
                            const QByteArray &sent, const char *codes) {
            QTest::newRow(name) << essid << choice << QString(password) << QString(login)
                                << "<essid>" + sent + "</essid>" + codes + "<password>" + password + "</password>";
        };
        row("WPAPSK/TKIP", "Lab", 2, "pw", "1234", "Lab", "<auth>2</auth><alg>2</alg>");
        row("OPEN/NONE", "Guest", 0, "", "1234", "Guest", "<auth>0</auth><alg>0</alg>");
        row("markup", "a&b<c", 4, "pw", "1234", "a&amp;b&lt;c", "<auth>3</auth><alg>3</alg>");
        row("%4 in the name", "net%4", 4, "pw", "1234", "net%4", "<auth>3</auth><alg>3</alg>");
        row("UTF-8 and blanks", QString::fromUtf8("B\xc3\xbcro-\xe6\x9d\xb1"), 4, "a  b ", "1234",
            "B\xc3\xbcro-\xe6\x9d\xb1", "<auth>3</auth><alg>3</alg>");
        row("refused", "Lab", 2, "pw", "wrong", "Lab", "<auth>2</auth><alg>2</alg>");
    }

    void joinBody()
    {
        QFETCH(QString, essid);
        QFETCH(int, choice);
        QFETCH(QString, password);
        QFETCH(QString, login);
        QFETCH(QByteArray, body);
        QPointer<qwConnectToWifi> d = join("", -1, -1, login);
        child<QLineEdit>(d, "lineEdit_Essid")->setText(essid);
        child<QComboBox>(d, "comboBox_Auth")->setCurrentIndex(choice);
        child<QLineEdit>(d, "lineEdit_Password")->setText(password);
        auto *connectButton = child<QPushButton>(d, "pushButton_Connect");
        connectButton->click();
        QVERIFY(!connectButton->isEnabled());
        QVERIFY(m_fx->waitAnswered("POST", "wifi", 1));
        QCOMPARE(m_fx->requests("POST", "wifi").at(0).body,
                 kDeclaration + "<request><wifi>" + body + "</wifi></request>");
        if (login == "1234") {
            QTRY_VERIFY(d.isNull());
            return;
        }
        QTRY_VERIFY(tipShown(d));
        QCOMPARE(popupKeys(d), QStringList{"tip_connectfailed"});
        QVERIFY(connectButton->isEnabled());
    }

    void addressChecks_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<QStringList>("typed"); // empty: nothing typed
        QTest::addColumn<bool>("saveEnabled");
        const QStringList lan{"192.168.1.10", "255.255.255.0", "192.168.1.1", "", ""};
        QTest::newRow("DHCP as opened") << 1 << lan << QStringList() << false;
        QTest::newRow("static as opened") << 0 << lan << QStringList() << false;
        QTest::newRow("gateway elsewhere") << 0 << lan << QStringList{"", "", "192.168.2.1", "", ""} << false;
        QTest::newRow("gateway in subnet") << 0 << QStringList{"192.168.1.10", "255.255.255.0", "192.168.2.1", "", ""}
                                           << QStringList{"", "", "192.168.1.1", "", ""} << true;
        QTest::newRow("dns 0.0.0.0") << 0 << lan << QStringList{"", "", "", "0.0.0.0", ""} << false;
        QTest::newRow("dns leading zero") << 0 << lan << QStringList{"", "", "", "", "010.1.1.1"} << false;
        QTest::newRow("dns given") << 0 << lan << QStringList{"", "", "", "8.8.8.8", ""} << true;
        QTest::newRow("DHCP two subnets")
            << 1 << QStringList{"10.0.0.2", "255.255.255.0", "10.0.1.1", "", ""} << QStringList() << false;
    }

    void addressChecks()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, opened);
        QFETCH(QStringList, typed);
        QFETCH(bool, saveEnabled);
        QPointer<qwModifiWifiCon> d = address(mode, opened);
        QCOMPARE(child<QRadioButton>(d, "radioButton_Dhcp")->isChecked(), mode == 1);
        QCOMPARE(field(d, "ipEdit_Address")->isEnabled(), mode == 0);
        QVERIFY(!save(d)->isEnabled());
        const char *names[] = {"ipEdit_Address", "ipEdit_Mask", "ipEdit_Gateway", "ipEdit_Dns1", "ipEdit_Dns2"};
        for (int i = 0; i < typed.size(); ++i) {
            if (!typed[i].isEmpty())
                type(field(d, names[i]), typed[i]);
        }
        QCOMPARE(save(d)->isEnabled(), saveEnabled);
    }

    // Switching modes: static from DHCP is a change of its own; DHCP needs no
    // usable static address.
    void modeSwitch()
    {
        QPointer<qwModifiWifiCon> d = address(1, {"192.168.1.10", "255.255.255.0", "192.168.1.1", "", ""});
        child<QRadioButton>(d, "radioButton_Static")->click();
        QVERIFY(field(d, "ipEdit_Address")->isEnabled());
        QVERIFY(save(d)->isEnabled());
        child<QRadioButton>(d, "radioButton_Dhcp")->click();
        QVERIFY(!save(d)->isEnabled());
        delete d;

        d = address(0, {"", "", "", "", ""});
        QVERIFY(!save(d)->isEnabled());
        child<QRadioButton>(d, "radioButton_Dhcp")->click();
        QVERIFY(save(d)->isEnabled());
        QSignalSpy result(d.data(), &qwModifiWifiCon::sigModifyResult);
        save(d)->click();
        QVERIFY(m_fx->waitAnswered("POST", "network&adapter=1", 1));
        QVERIFY(m_fx->requests("POST", "network&adapter=1").at(0).body.contains("<mode>1</mode><ip></ip>"));
        QTRY_VERIFY(d.isNull());
        QCOMPARE(result.count(), 1);
    }

    void addressSave_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("200") << 200;
        QTest::newRow("500") << 500;
    }

    void addressSave()
    {
        QFETCH(int, status);
        if (status != 200)
            m_fx->device().addFault("set:network", Fault::status(status));
        QPointer<qwModifiWifiCon> d = address(0, {"192.168.1.10", "255.255.255.0", "192.168.1.1", "8.8.8.8", ""});
        QSignalSpy result(d.data(), &qwModifiWifiCon::sigModifyResult);
        type(field(d, "ipEdit_Address"), "192.168.1.11");
        save(d)->click();
        type(field(d, "ipEdit_Address"), "192.168.1.12"); // after the click: not reported
        QVERIFY(m_fx->waitAnswered("POST", "network&adapter=1", 1));
        QCOMPARE(m_fx->requests("POST", "network&adapter=1").at(0).body,
                 kDeclaration + "<request><network ver=\"2.0\"><mtu>1500</mtu><type>0</type><ipv4><mode>0</mode>"
                                "<ip>192.168.1.11</ip><mask>255.255.255.0</mask><gateway>192.168.1.1</gateway>"
                                "<dns>8.8.8.8</dns><dns></dns></ipv4></network></request>");
        if (status == 200) {
            QTRY_VERIFY(d.isNull());
            QCOMPARE(result.count(), 1);
            QCOMPARE(result.at(0), (QVariantList{0, "192.168.1.11", "255.255.255.0", "192.168.1.1", "8.8.8.8", ""}));
            return;
        }
        QTRY_VERIFY(tipShown(d));
        QCOMPARE(popupKeys(d), QStringList{"tip_setfailed"});
        QVERIFY(save(d)->isEnabled());
        QCOMPARE(result.count(), 0);
    }
};

QTEST_MAIN(WifiDialogsTest)
#include "tst_wifidialogs.moc"
