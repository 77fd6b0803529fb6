#include <QtTest>

#include <thread>
#include <vector>

#include "cgitest.h"

using devicesim::Fault;

namespace {

struct Collected
{
    QByteArray bytes;
    int calls = 0;
};

void collect(int id, const char *data, int length, void *context)
{
    auto *c = static_cast<Collected *>(context);
    c->bytes.append(data, length);
    ++c->calls;
    Q_UNUSED(id);
}

int g_callsWithoutContext = 0;
void countOnly(int, const char *, int, void *)
{
    ++g_callsWithoutContext;
}

} // namespace

class TestCgiTransfer : public DeviceTest
{
    Q_OBJECT

private slots:
    void getSampleAndReadIt()
    {
        CGIUtil util(42);
        Recorder rec(&util);
        QVERIFY(util.setGetRequest(sample(), "admin", "1234", nullptr, nullptr, 2));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0", "d"}));
        QVERIFY(!rec.wrongId);

        QString s;
        int n = 0;
        QVERIFY(util.getXmlString("name", &s));
        QCOMPARE(s, QStringLiteral("Hall 1"));
        QVERIFY(util.getXmlInt("count", &n));
        QCOMPARE(n, 42);
        QVERIFY(util.getXmlString("text", &s));
        QCOMPARE(s, QStringLiteral("A  B")); // blanks kept by the parser
        QVERIFY(util.getXmlString("title", &s));
        QCOMPARE(s, QStringLiteral("Kamera é 東京"));

        const auto log = m_dev->requests();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].method, QByteArray("GET"));
        QCOMPARE(log[0].key, QStringLiteral("sample"));
        QVERIFY(log[0].authorized);
        QVERIFY(log[0].header("Authorization").startsWith("Basic "));
    }

    void largeBodyKeptAsPrefixButSeenWhole()
    {
        m_dev->addFault(QStringLiteral("*"), Fault::largeBody(500000));
        CGIUtil util(3);
        Recorder rec(&util);
        Collected seen;
        QVERIFY(util.setGetRequest(sample(), "admin", "1234", &collect, &seen, 5));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0", "d"}));
        const QByteArray all = Fault::pattern(500000);
        QCOMPARE(seen.bytes.size(), 500000);
        QVERIFY(seen.bytes == all);
        QCOMPARE(util.replyLength(), qint64(500000));
        const QByteArray kept = util.replyBody();
        QVERIFY(kept.size() > 0);
        QVERIFY(kept.size() < CGIUtil::kReplyBufferBytes);
        QVERIFY(all.startsWith(kept));
    }

    void callbackNeedsItsContext()
    {
        g_callsWithoutContext = 0;
        CGIUtil util(3);
        Recorder rec(&util);
        QVERIFY(util.setGetRequest(sample(), "admin", "1234", &countOnly, nullptr, 2));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0", "d"}));
        QCOMPARE(g_callsWithoutContext, 0);
        QVERIFY(util.replyBody().startsWith("<?xml"));
    }

    // Basic authorization carries the Latin-1 bytes of the pair, however long,
    // with the first colon ending the name.
    void credentials_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("long, colon in the name") << "ad:min" << QString(300, QLatin1Char('p'));
        QTest::newRow("latin-1") << QString::fromUtf8("bjørn") << QString::fromUtf8("pässwörd");
    }

    void credentials()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        m_dev->setCredentials(user, password);
        CGIUtil util(5);
        Recorder rec(&util);
        QVERIFY(util.setGetRequest(sample(), user, password, nullptr, nullptr, 2));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({"h:0", "d"}));
        const auto log = m_dev->requests();
        QVERIFY(log.value(0).authorized);
        QCOMPARE(log.value(0).header("Authorization"), "Basic " + (user + ":" + password).toLatin1().toBase64());
    }

    void objectsOnManyThreadsAtOnce()
    {
        // Library set-up happens once, whichever thread builds the first object.
        const QString url = sample();
        std::atomic<int> ok{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back([&ok, url, i] {
                CGIUtil util(i);
                std::atomic<int> code{-1};
                QObject::connect(&util, &CGIUtil::sigHeaderCompleted, [&code](int, int c) { code = c; });
                if (util.setGetRequest(url, "admin", "1234", nullptr, nullptr, 5)) {
                    util.start();
                    util.wait();
                }
                int v = 0;
                if (code == 0 && util.getXmlInt("count", &v) && v == 42)
                    ++ok;
            });
        }
        for (auto &t : threads)
            t.join();
        QCOMPARE(ok.load(), 8);
    }
};

QTEST_GUILESS_MAIN(TestCgiTransfer)
#include "tst_transfer.moc"
