#include "devsetfixture.h"
#include "devsettings/qwconnecttowifi.h"
#include "devsettings/qwdevsetwifi.h"
#include "devsettings/qwmodifiwificon.h"
#include "tests/support/loopback.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

using namespace devsetfixture;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

QByteArray saveBody(int active, int mode, const QStringList &v)
{
    return kDeclaration + QString("<request><network ver=\"2.0\"><active>%1</active><mtu>1500</mtu><proto>1</proto>"
                                  "<ipv4><mode>%2</mode><ip>%3</ip><mask>%4</mask><gateway>%5</gateway><dns>%6</dns>"
                                  "<dns>%7</dns></ipv4><ipv6></ipv6></network></request>")
                              .arg(active)
                              .arg(mode)
                              .arg(v[0], v[1], v[2], v[3], v[4])
                              .toUtf8();
}

const QStringList kShipped{"192.168.1.20", "255.255.255.0", "192.168.1.1", "8.8.8.8", "8.8.4.4"};

} // namespace

class WifiTest : public QObject, public PageCase<qwDevsetWifi>
{
    Q_OBJECT

    QPushButton *button(const char *name) { return child<QPushButton>(m_page.get(), name); }
    QLabel *label(const char *name) { return child<QLabel>(m_page.get(), name); }
    QCheckBox *enable() { return child<QCheckBox>(m_page.get(), "checkBox_Enable"); }
    QTableView *table() { return child<QTableView>(m_page.get(), "tableView_Networks"); }
    QList<QWidget *> controls()
    {
        return {enable(),
                button("pushButton_Refresh"),
                button("pushButton_ManualConnect"),
                button("pushButton_Save"),
                button("pushButton_Modify"),
                table()};
    }

    // The first selection: ability, network and link, and with the adapter
    // on the list and the current network.
    void load(bool scans = true)
    {
        Deliveries replies(m_page.get());
        m_page->OnInitParameters(116);
        QTRY_COMPARE(replies.count, scans ? 5 : 3);
    }
    QByteArray save()
    {
        const int before = m_fx->count("POST", "network&adapter=1");
        // Saving waits for the whole read, the link status with it.
        [&] { QTRY_VERIFY(button("pushButton_Save")->isEnabled()); }();
        button("pushButton_Save")->click();
        [&] { QVERIFY(m_fx->waitAnswered("POST", "network&adapter=1", before + 1)); }();
        return m_fx->requests("POST", "network&adapter=1").value(before).body;
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        QVERIFY(open());
        m_page->show();
    }
    void cleanup() { close(); }

    void noWifi_data()
    {
        QTest::addColumn<QByteArray>("ability");
        QTest::newRow("1") << QByteArray("<response><devability><adapter>1</adapter></devability></response>");
        QTest::newRow("0") << QByteArray("<response><devability><adapter>0</adapter></devability></response>");
        QTest::newRow("missing") << QByteArray("<response><devability><aimode>2</aimode></devability></response>");
    }

    void noWifi()
    {
        QFETCH(QByteArray, ability);
        m_fx->device().setSubject("devability", ability);
        m_page->OnInitParameters(116);
        QVERIFY(m_fx->waitAnswered("GET", "devability", 1));
        QTRY_VERIFY(label("label_NotSupported")->isVisible());
        for (QWidget *w : controls())
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        m_page->OnBtnRefresh();
        m_page->OnInitParameters(116);
        QTest::qWait(200);
        QCOMPARE(m_fx->device().requests().size(), 1);
    }

    void adapterOff()
    {
        m_fx->device().setSubject("network&adapter=1", "<response><network><active>0</active></network></response>");
        // The link reply may come last and decides Modify: keep it down too.
        m_fx->device().setSubject("netstat&adapter=1", "<response><link>0</link></response>");
        load(false);
        QTRY_VERIFY(!button("pushButton_Save")->isEnabled());
        for (QWidget *w : controls().mid(1, 4))
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        QCOMPARE(m_fx->count("GET", "wifiscan"), 0);
        enable()->click();
        for (QWidget *w : controls())
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        // Empty cached address: DHCP whatever the mode.
        QCOMPARE(save(), saveBody(1, 1, {"", "", "", "", ""}));
        enable()->click();
        QVERIFY(button("pushButton_Save")->isEnabled());
        QCOMPARE(save(), saveBody(0, 1, {"", "", "", "", ""}));
    }

    void scanTable()
    {
        m_fx->device().setSubject("wifiscan", "<response>"
                                              "<wifiap><essid>A</essid><auth>3</auth><alg>3</alg><signal>-39</signal>"
                                              "</wifiap><wifiap><essid>nosignal</essid></wifiap>"
                                              "<wifiap><essid>B</essid><auth>4</auth><signal>-40</signal></wifiap>"
                                              "<wifiap><essid>C</essid><signal>-50</signal></wifiap>"
                                              "<wifiap><essid>D</essid><auth>1</auth><alg>0</alg>"
                                              "<signal>-100</signal></wifiap></response>");
        load();
        QTRY_COMPARE(table()->model()->rowCount(), 4);
        QStringList numbers, names, auths, levels;
        for (int r = 0; r < 4; ++r) {
            numbers << table()->model()->index(r, 0).data().toString();
            names << table()->model()->index(r, 1).data().toString();
            auths << table()->model()->index(r, 2).data().toString();
            levels << table()->model()->index(r, 4).data(Qt::UserRole).toString();
        }
        QCOMPARE(numbers, (QStringList{"1", "2", "3", "4"}));
        QCOMPARE(names, (QStringList{"A", "B", "C", "D"}));
        QCOMPARE(auths, (QStringList{"WPA2", "", "", "WEP"}));
        QCOMPARE(levels, (QStringList{"5", "4", "3", "0"}));

        // Row n opens the join dialog preset with the n-th listed network;
        // one without codes gets the default choice.
        m_page->OnTableDoubleClick(table()->model()->index(3, 1));
        auto *join = m_page->findChild<qwConnectToWifi *>();
        QVERIFY(join);
        QCOMPARE(join->findChild<QLineEdit *>("lineEdit_Essid")->text(), QStringLiteral("D"));
        QCOMPARE(join->findChild<QComboBox *>("comboBox_Auth")->currentIndex(), 6);
        delete join;
        m_page->OnTableDoubleClick(table()->model()->index(2, 1));
        join = m_page->findChild<qwConnectToWifi *>();
        QCOMPARE(join->findChild<QComboBox *>("comboBox_Auth")->currentIndex(), 4);
        delete join;
        m_page->OnTableDoubleClick(table()->model()->index(4, 1));
        QVERIFY(!m_page->findChild<qwConnectToWifi *>());
    }

    void saveResult_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("tip");
        QTest::newRow("200") << 200 << "tip_setsuccess";
        QTest::newRow("500") << 500 << "tip_setfailed";
    }

    void saveResult()
    {
        QFETCH(int, status);
        QFETCH(QString, tip);
        load();
        if (status != 200)
            m_fx->device().addFault("set:network", Fault::status(status));
        const int reads = m_fx->device().requests().size();
        QCOMPARE(save(), saveBody(1, 0, kShipped));
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{tip});
        QCOMPARE(m_fx->device().requests().size(), reads + 1);
    }

    void statusAfterFailedRead_data()
    {
        // Each read's fault: answered 500 with its own document, or answered
        // well after the settings' failure.
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("settings, status after") << QStringList{"network&adapter=1=500", "netstat&adapter=1=late"};
        QTest::newRow("status") << QStringList{"netstat&adapter=1=500"};
        QTest::newRow("settings and status") << QStringList{"network&adapter=1=500", "netstat&adapter=1=500"};
    }

    // The link status belongs to the page's read: an error page that holds
    // a link is no link, and one shown beside blank settings is unread.
    void statusAfterFailedRead()
    {
        QFETCH(QStringList, faults);
        for (const QString &f : faults) {
            const QString key = f.section('=', 0, -2);
            m_fx->device().addFault("get:" + key, f.endsWith("late") ? Fault::delay(1500)
                                                                     : Fault::status(500, m_fx->device().subject(key)));
        }
        m_page->OnInitParameters(116);
        QVERIFY(m_fx->waitAnswered("GET", "netstat&adapter=1", 1));
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_readfailed"});
        QTRY_VERIFY(!button("pushButton_Save")->isEnabled());
        QTest::qWait(500); // the last reply handled
        QCOMPARE(label("label_Link")->text(), QString());
        QCOMPARE(label("label_Address")->text(), QString());

        m_fx->device().clearFaults();
        button("pushButton_Refresh")->click();
        QTRY_VERIFY(button("pushButton_Save")->isEnabled());
        QTRY_COMPARE(label("label_Link")->text(), langText(37, 117, "connected"));
        QCOMPARE(label("label_Address")->text(), QStringLiteral("192.168.1.20"));
    }

    // Before any network reply the address dialog does not open: it would
    // send an address the device never held.
    void modifyBeforeNetworkReply()
    {
        m_page->setDeviceInfo("127.0.0.1", QString::number(testsupport::closedPort()), "admin", "1234");
        m_page->OnInitParameters(116);
        QTest::qWait(200);
        QVERIFY(!button("pushButton_Modify")->isEnabled());
        m_page->OnBtnModify();
        QVERIFY(!m_page->findChild<qwModifiWifiCon *>());
    }

    // The address dialog's result changes the next save, not the labels;
    // the cached strings go into the body escaped.
    void modifyResult()
    {
        load();
        m_page->OnModifyResult(0, "10.0.0.5", "255.0.0.0", "10.0.0.1", "a&b<c", "");
        QCOMPARE(label("label_Address")->text(), QStringLiteral("192.168.1.20"));
        QCOMPARE(save(), saveBody(1, 0, {"10.0.0.5", "255.0.0.0", "10.0.0.1", "a&amp;b&lt;c", ""}));
    }

    // A second server is read only from ipv4 itself.
    void dnsOnlyFromIpv4()
    {
        load();
        m_fx->device().setSubject("network&adapter=1",
                                  "<response><network><active>1</active><ipv4><mode>0</mode><ip>192.168.1.30</ip>"
                                  "<mask>255.255.255.0</mask><gateway>192.168.1.1</gateway></ipv4>"
                                  "<ipv6><dns>fe80::1</dns><dns>fe80::2</dns></ipv6></network></response>");
        m_page->OnBtnRefresh();
        QVERIFY(m_fx->waitAnswered("GET", "network&adapter=1", 2));
        QTRY_COMPARE(label("label_Address")->text(), QStringLiteral("192.168.1.30"));
        QCOMPARE(save(), saveBody(1, 0, {"192.168.1.30", "255.255.255.0", "192.168.1.1", "8.8.8.8", "8.8.4.4"}));
    }
};

QTEST_MAIN(WifiTest)
#include "tst_wifi.moc"
