#include <QtTest>

#include <cstdio>
#include <unistd.h>

#include "cgitest.h"

using devicesim::Fault;

namespace {

const QByteArray Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

void ignoreChunk(int, const char *, int, void *) {}

// What the process writes to its standard output while fn runs.
template <typename Fn>
QByteArray stdoutOf(Fn fn)
{
    std::fflush(stdout);
    const int saved = ::dup(1);
    QTemporaryFile file;
    file.open();
    ::dup2(file.handle(), 1);
    fn();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

class TestCgiPost : public DeviceTest
{
    Q_OBJECT

    QString setUrl(const QString &key = QStringLiteral("sample")) const
    {
        return url(QStringLiteral("/action/set?subject=") + key);
    }

    // Posts the body; returns the events and the bytes the device received.
    QStringList post(const QString &body, QByteArray *received = nullptr)
    {
        CGIUtil util(9);
        Recorder rec(&util);
        if (!util.setPostRequest(setUrl(), "admin", "1234", body, nullptr, nullptr, 2, 2))
            return {QStringLiteral("refused")};
        if (!runToEnd(util))
            return {QStringLiteral("hung")};
        if (received)
            *received = m_dev->requests().value(0).body;
        return rec.events;
    }

private slots:
    void bodyAndHeadersOnTheWire()
    {
        QByteArray got;
        QCOMPARE(post(QStringLiteral("<request><name>Hall 3</name></request>"), &got), QStringList({"h:0", "d"}));
        QCOMPARE(got, Declaration + "<request><name>Hall 3</name></request>");
        const auto req = m_dev->requests().value(0);
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.header("Content-Type"), QByteArray("text/xml;charset=utf-8"));
        for (const auto &h : req.headers)
            QVERIFY2(h.first.compare("Expect", Qt::CaseInsensitive) != 0, h.second.constData());
        QVERIFY(m_dev->subject("sample").contains("<name>Hall 3</name>"));
    }

    void whiteSpaceOnlyBetweenTagsIsCondensed()
    {
        QByteArray got;
        post(QStringLiteral("\n  <request>\n  <osd>\n    <text>A  B</text>\n    <pwd>  </pwd>\n  </osd>\n</request>\n"),
             &got);
        QCOMPARE(got, Declaration + "<request> <osd> <text>A  B</text> <pwd>  </pwd> </osd> </request>");
        // The device stores both values byte for byte.
        QVERIFY(m_dev->subject("sample").contains("<text>A  B</text>"));
        QVERIFY(m_dev->subject("sample").contains("<pwd>  </pwd>"));
    }

    void condenseMarkupCases_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("attribute kept") << QString("<a k=\"x  y\">  <b/>  </a>") << QString("<a k=\"x  y\"> <b/> </a>");
        QTest::newRow("empty tag then end") << QString("<a><b/>\t\t</a>") << QString("<a><b/> </a>");
        QTest::newRow("text inner blanks") << QString("<a>x \n y</a>") << QString("<a>x \n y</a>");
        QTest::newRow("whole value") << QString("<a>\t \n</a>") << QString("<a>\t \n</a>");
        QTest::newRow("after end tag") << QString("<r><a>1</a>   <b>2</b></r>") << QString("<r><a>1</a> <b>2</b></r>");
        QTest::newRow("trimmed") << QString("  \n<r/>\r\n ") << QString("<r/>");
        QTest::newRow("comment") << QString("<r><!-- c -->  </r>") << QString("<r><!-- c --> </r>");
    }

    void condenseMarkupCases()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(CGIUtil::condenseMarkup(in), out);
    }

    void textGoesAsUtf8()
    {
        QByteArray got;
        QCOMPARE(post(QStringLiteral("<request><title>Kamera é 東京</title></request>"), &got).value(0),
                 QStringLiteral("h:0"));
        QCOMPARE(got, Declaration + QStringLiteral("<request><title>Kamera é 東京</title></request>").toUtf8());
        QVERIFY(m_dev->subject("sample").contains(QStringLiteral("<title>Kamera é 東京</title>").toUtf8()));
    }

    void largeBodyArrivesWhole()
    {
        const QString big = QStringLiteral("<request><note>") + QString(100 * 1024, QLatin1Char('x')) +
                            QStringLiteral("</note></request>");
        QByteArray got;
        QCOMPARE(post(big, &got), QStringList({"h:0", "d"}));
        QCOMPARE(got, Declaration + big.toUtf8());
    }

    void interimContinueIsSkipped()
    {
        m_dev->addFault(QStringLiteral("set:sample"), Fault::interim100());
        QCOMPARE(post(QStringLiteral("<request><name>x</name></request>")), QStringList({"h:0", "d"}));
    }

    void progressOfTrickledReply()
    {
        m_dev->setSetReply("sample", "<response>" + QByteArray(200 * 1024, 'z') + "</response>");
        m_dev->addFault(QStringLiteral("set:sample"), Fault::trickle(16 * 1024, 10));
        int dummy = 0;
        {
            CGIUtil util(4);
            Recorder rec(&util);
            QVERIFY(util.setPostRequest(setUrl(), "admin", "1234", "<request/>", &ignoreChunk, &dummy, 2, 5));
            QVERIFY(runToEnd(util));
            QCOMPARE(rec.events, QStringList({"h:0", "d"}));
            QVERIFY2(rec.percents.size() >= 3, qPrintable(QString::number(rec.percents.size())));
            for (int i = 1; i < rec.percents.size(); ++i)
                QVERIFY(rec.percents[i] > rec.percents[i - 1]);
            QCOMPARE(rec.percents.last(), 100);
            QVERIFY(!rec.wrongId);
        }
        CGIUtil util(4);
        Recorder rec(&util);
        QVERIFY(util.setPostRequest(setUrl(), "admin", "1234", "<request/>", &ignoreChunk, nullptr, 2, 5));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0", "d"}));
        QVERIFY(rec.percents.isEmpty());
    }

    void postExSendsBytesUnchangedAndKeepsNothing()
    {
        const QByteArray body = "<request>\n  <text>A  B</text>\n</request>";
        CGIUtil util(11);
        Recorder rec(&util);
        QVERIFY(util.setPostRequestEx(setUrl(), "admin", "1234", body.constData()));
        bool ended = false;
        QCOMPARE(stdoutOf([&] { ended = runToEnd(util); }), QByteArray());
        QVERIFY(ended);
        QCOMPARE(rec.events, QStringList({"h:0"}));
        const auto req = m_dev->requests().value(0);
        QCOMPARE(req.body, Declaration + body);
        QCOMPARE(req.header("Content-Type"), QByteArray("text/xml;charset=utf-8"));
        QVERIFY(req.header("Expect").isEmpty());
        QCOMPARE(util.replyLength(), qint64(0));
    }

    void postExStalledEndsByLowSpeedTime()
    {
        CGIUtil::setLowSpeedTime(2);
        m_dev->addFault(QStringLiteral("set:sample"), Fault::stall());
        CGIUtil util(12);
        Recorder rec(&util);
        QVERIFY(util.setPostRequestEx(setUrl(), "admin", "1234", "<request/>"));
        QElapsedTimer t;
        t.start();
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0", "h:13"}));
        // libcurl measures the speed over a window of a few seconds, so the
        // bytes that did arrive keep it above the limit for a while first.
        QVERIFY2(t.elapsed() >= 2000 && t.elapsed() < 12000, qPrintable(QString::number(t.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestCgiPost)
#include "tst_post.moc"
