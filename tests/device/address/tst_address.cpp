// The address check every road that adds or changes a device goes through,
// and the folder name an address gives.

#include "device/deviceaddress.h"

#include <QtTest>

class AddressTest : public QObject
{
    Q_OBJECT

private slots:
    void ipv4_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ipv4");
        QTest::newRow("plain") << "192.168.1.20" << true;
        QTest::newRow("leading zeros, as stored rows may hold") << "010.001.000.009" << true;
        QTest::newRow("part of 256") << "192.168.1.256" << false;
        QTest::newRow("four digits") << "192.168.1.0020" << false;
        QTest::newRow("signs") << "+1.+2.+3.+4" << false;
        QTest::newRow("trailing blank") << "192.168.1.20 " << false;
        QTest::newRow("blank inside a part") << "192.168. 1.20" << false;
        QTest::newRow("trailing newline") << "192.168.1.20\n" << false;
        QTest::newRow("empty part") << "192.168..20" << false;
        QTest::newRow("three parts") << "192.168.1" << false;
        QTest::newRow("other digits") << QString::fromUtf8("1.2.3.\u0664") << false;
    }
    void ipv4()
    {
        QFETCH(QString, text);
        QFETCH(bool, ipv4);
        QCOMPARE(deviceaddress::isIpv4(text), ipv4);
        // An identifier has no dots: whatever the IPv4 check refuses is
        // refused altogether.
        QCOMPARE(deviceaddress::isAcceptable(text), ipv4);
    }

    void identifier_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("identifier");
        QTest::newRow("letters, digits and dashes") << "ABCD-123456-XYZ" << true;
        QTest::newRow("five") << "ABCDE" << false;
        QTest::newRow("trailing newline") << "ABCDEF\n" << false;
        QTest::newRow("trailing blank") << "ABCDEF " << false;
    }
    void identifier()
    {
        QFETCH(QString, text);
        QFETCH(bool, identifier);
        QCOMPARE(deviceaddress::isIdentifier(text), identifier);
        QCOMPARE(deviceaddress::isAcceptable(text), identifier);
    }
};

QTEST_APPLESS_MAIN(AddressTest)
#include "tst_address.moc"
