#include <QtTest>

#include "cgitest.h"

using devicesim::Fault;

namespace {

const QByteArray Doc = "<response>"
                       "<p><c>parent</c><s1><k>1</k></s1><s2><k>2</k><j>5</j></s2></p>"
                       "<j>9</j>"
                       "<list><dns>a</dns><other>x</other><dns>b</dns><empty></empty><blank/></list>"
                       "<ch><item><id>4</id></item><item><val>7</val></item><item><val>8</val></item></ch>"
                       "<title>Kamera é 東京</title>"
                       "</response>";

} // namespace

class TestCgiAccessors : public DeviceTest
{
    Q_OBJECT

    std::unique_ptr<CGIUtil> m_util;

    // GETs the subject into a fresh request object.
    CGIUtil &fetch(const QByteArray &xml)
    {
        m_dev->setSubject(QStringLiteral("acc"), xml);
        m_util.reset(new CGIUtil(1));
        m_util->setGetRequest(url("/action/get?subject=acc"), "admin", "1234", nullptr, nullptr, 2);
        runToEnd(*m_util);
        return *m_util;
    }

private slots:
    void sectionNeedsAnEarlierSearch()
    {
        CGIUtil &u = fetch(Doc);
        QVERIFY(!u.enterSection("p", false));
        QVERIFY(!u.nextSection());
        QString s;
        QVERIFY(!u.getSectionText(&s));
        int v = -1;
        QVERIFY(!u.getSectionInt("k", &v, 0));
        QVERIFY(u.getXmlInt("j", &v)); // any successful search makes a start
        QCOMPARE(v, 5);
        QVERIFY(u.enterSection("list", false));
    }

    void deepSearchGoesDownAndAlongNeverUp()
    {
        CGIUtil &u = fetch(Doc);
        int v = 0;
        QVERIFY(u.enterSection("s1", true));
        QVERIFY(u.enterSection("j", false)); // below a following sibling of s1
        QVERIFY(u.getSectionInt("k", &v, 0) == false);
        QString s;
        QVERIFY(u.getSectionText(&s));
        QCOMPARE(s, QStringLiteral("5"));
        QVERIFY(!u.enterSection("c", false));  // inside the parent: never
        QVERIFY(!u.enterSection("s1", false)); // a preceding sibling: never
        QVERIFY(u.getSectionText(&s));
        QCOMPARE(s, QStringLiteral("5")); // a miss keeps the cursor
        QVERIFY(u.enterSection("p", true));
        QVERIFY(u.nextSection());
        QVERIFY(u.getSectionText(&s));
        QCOMPARE(s, QStringLiteral("9"));
        QVERIFY(u.nextSection());
        QVERIFY(u.getSectionString("dns", &s, 0));
        QCOMPARE(s, QStringLiteral("a"));
    }

    void childSectionStaysInsideItsElement()
    {
        CGIUtil &u = fetch(Doc);
        QVERIFY(!u.enterChildSection("p")); // no cursor yet
        QVERIFY(u.enterSection("s1", true));
        QVERIFY(!u.enterChildSection("j")); // only a following sibling's child has one
        QString s;
        QVERIFY(u.enterChildSection("k"));
        QVERIFY(u.getSectionText(&s));
        QCOMPARE(s, QStringLiteral("1"));
        QVERIFY(u.enterSection("p", true));
        QVERIFY(!u.enterChildSection("k")); // a grandchild is not a child
        QVERIFY(u.enterChildSection("s2"));
        int v = 0;
        QVERIFY(u.getSectionInt("j", &v, 0));
        QCOMPARE(v, 5);
    }

    void sectionChildrenByNameAndIndex()
    {
        CGIUtil &u = fetch(Doc);
        QString s;
        int v = -1;
        QVERIFY(u.enterSection("list", true));
        QVERIFY(u.getSectionString("dns", &s, 1));
        QCOMPARE(s, QStringLiteral("b"));
        QVERIFY(!u.getSectionString("dns", &s, 2));
        QVERIFY(!u.getSectionString("dns", &s, -1));
        QVERIFY(u.getSectionInt("empty", &v, 0));
        QCOMPARE(v, 0);
        v = -1;
        QVERIFY(u.getSectionInt("blank", &v, 0));
        QCOMPARE(v, 0);
        s = QStringLiteral("old");
        QVERIFY(u.getSectionString("empty", &s, 0));
        QCOMPARE(s, QString());

        QVERIFY(u.enterSection("ch", true));
        QVERIFY(u.getSectionChildInt("val", &v));
        QCOMPARE(v, 7);
        QVERIFY(u.getSectionChildInt("id", &v));
        QCOMPARE(v, 4);
        QVERIFY(!u.getSectionChildInt("none", &v));
    }

    void textLimits()
    {
        const QByteArray d127 = QByteArray(126, '0') + '7';
        const QByteArray d128 = QByteArray(127, '0') + '8';
        const QByteArray s255(255, 's');
        const QByteArray s256(256, 's');
        CGIUtil &u = fetch("<response><a>" + d127 + "</a><b>" + d128 + "</b><c>" + s255 + "</c><d>" + s256 +
                           "</d><g><x><n>" + d128 + "</n></x><y><n>" + d127 + "</n></y></g></response>");
        int v = 0;
        QString s;
        QVERIFY(u.getXmlInt("a", &v));
        QCOMPARE(v, 7);
        v = -1;
        QVERIFY(!u.getXmlInt("b", &v));
        QCOMPARE(v, -1); // a failure leaves the output alone
        QVERIFY(u.getXmlString("c", &s));
        QCOMPARE(s.size(), 255);
        QVERIFY(!u.getXmlString("d", &s));
        QCOMPARE(s.size(), 255);

        QVERIFY(u.enterSection("response", true));
        QVERIFY(u.getSectionInt("a", &v, 0));
        QVERIFY(!u.getSectionInt("b", &v, 0));
        QVERIFY(u.getSectionString("a", &s, 0));
        QVERIFY(!u.getSectionString("c", &s, 0)); // 127 bytes is the section limit
        QVERIFY(u.enterSection("g", true));
        v = 0;
        QVERIFY(u.getSectionChildInt("n", &v)); // the first that fits
        QCOMPARE(v, 7);
    }

    void sectionTextIsUtf8()
    {
        CGIUtil &u = fetch(Doc);
        QString s;
        QVERIFY(u.enterSection("title", true));
        QVERIFY(u.getSectionText(&s));
        QCOMPARE(s, QStringLiteral("Kamera é 東京"));
    }

    void everyAccessorNeedsANameAndABody()
    {
        CGIUtil &u = fetch(Doc);
        int v = -1;
        QString s;
        QVERIFY(!u.getXmlInt(QString(), &v));
        QVERIFY(!u.getXmlString(QString(), &s));
        QVERIFY(!u.enterSection(QString(), true));
        QVERIFY(u.enterSection("list", true));
        QVERIFY(!u.getSectionInt(QString(), &v, 0));
        QVERIFY(!u.getSectionString(QString(), &s, 0));
        QVERIFY(!u.getSectionChildInt(QString(), &v));

        m_dev->addFault(QStringLiteral("*"), Fault::status(200)); // 200 without a body
        CGIUtil &e = fetch(Doc);
        QCOMPARE(e.replyLength(), qint64(0));
        QVERIFY(!e.getXmlInt("j", &v));
        QVERIFY(!e.getXmlString("title", &s));
        QVERIFY(!e.enterSection("list", true));
        QVERIFY(!e.getSectionInt("dns", &v, 0));
        QVERIFY(!e.getSectionString("dns", &s, 0));
        QVERIFY(!e.getSectionChildInt("val", &v));
        QVERIFY(!e.getSectionText(&s));
        QVERIFY(!e.nextSection());
        QCOMPARE(v, -1);
    }

    void replyThatIsNotXml()
    {
        m_dev->addFault(QStringLiteral("*"), Fault::status(200, "<response><a>1</a"));
        CGIUtil &u = fetch(Doc);
        int v = -1;
        QVERIFY(!u.parseReply());
        QVERIFY(!u.getXmlInt("a", &v));
        QVERIFY(!u.enterSection("a", true));
        QCOMPARE(v, -1);
    }
};

QTEST_GUILESS_MAIN(TestCgiAccessors)
#include "tst_accessors.moc"
