#include <QtTest>

#include "cgitest.h"

using devicesim::Fault;

class TestCgiCodes : public DeviceTest
{
    Q_OBJECT

    QStringList get(const QString &url, const QString &password = QStringLiteral("1234"), int timeoutSec = 2)
    {
        CGIUtil util(7);
        Recorder rec(&util);
        if (!util.setGetRequest(url, QStringLiteral("admin"), password, nullptr, nullptr, timeoutSec))
            return {QStringLiteral("refused")};
        if (!runToEnd(util))
            return {QStringLiteral("hung")};
        if (rec.wrongId)
            return {QStringLiteral("wrong id")};
        return rec.events;
    }

    // Sets up a request of one mode: 0 GET, 1 POST, 2 POST without reply, 3 upload.
    static bool prepare(CGIUtil &util, int mode, const QString &url, const QString &user, const QString &password,
                        const char *body, const QString &file)
    {
        switch (mode) {
        case 0:
            return util.setGetRequest(url, user, password, nullptr, nullptr, 2);
        case 1:
            return util.setPostRequest(url, user, password, QString::fromUtf8(body), nullptr, nullptr, 2, 2);
        case 2:
            return util.setPostRequestEx(url, user, password, body);
        default:
            return util.setUploadRequest(url, user, password, file);
        }
    }

private slots:
    void statusTable_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("code");
        const QList<QPair<int, int>> table = {{200, 0},  {401, 1},  {403, 1},   {400, 7},   {415, 8},  {416, 9},
                                              {500, 11}, {409, 12}, {404, 255}, {302, 255}, {599, 255}};
        for (const auto &row : table)
            QTest::addRow("%d", row.first) << row.first << row.second;
    }

    void statusTable()
    {
        QFETCH(int, status);
        QFETCH(int, code);
        m_dev->addFault(QStringLiteral("*"), Fault::status(status, "<response/>"));
        // Each code exactly once, then the data signal for the body.
        QCOMPARE(get(sample()), QStringList({QStringLiteral("h:%1").arg(code), "d"}));
    }

    void malformedStatusLine()
    {
        m_dev->addFault(QStringLiteral("*"), Fault::malformedStatus());
        QCOMPARE(get(sample()).value(0), QStringLiteral("h:255"));
        QCOMPARE(get(sample()).count(QStringLiteral("h:255")), 1);
    }

    void delayPastTimeOut()
    {
        m_dev->addFault(QStringLiteral("*"), Fault::delay(3000));
        QCOMPARE(get(sample(), QStringLiteral("1234"), 1), QStringList({"h:13"}));
    }

    void stallAfterStatusLine()
    {
        m_dev->addFault(QStringLiteral("*"), Fault::stall());
        QCOMPARE(get(sample(), QStringLiteral("1234"), 1), QStringList({"h:0", "h:13", "d"}));
    }

    void failuresWithoutStatusReportOther_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addRow("reset") << int(Fault::Reset);
        QTest::addRow("garbage") << int(Fault::Garbage);
    }

    void failuresWithoutStatusReportOther()
    {
        QFETCH(int, kind);
        Fault f;
        f.kind = Fault::Kind(kind);
        m_dev->addFault(QStringLiteral("*"), f);
        QCOMPARE(get(sample()), QStringList({"h:255"}));
        QCOMPARE(m_dev->requests().size(), 1);
    }

    void failuresReportInEveryMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("closed");
        for (int mode = 0; mode < 4; ++mode) {
            QTest::addRow("dropped %d", mode) << mode << false;
            QTest::addRow("closed port %d", mode) << mode << true;
        }
    }

    // Whatever the setter, a transfer that ends without a status still
    // reports once: 10 when it could not connect, 255 otherwise.
    void failuresReportInEveryMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, closed);
        m_dev->addFault(QStringLiteral("*"), Fault::drop());
        const QString base = closed ? QStringLiteral("http://127.0.0.1:%1").arg(closedPort()) : m_dev->baseUrl();
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("firmware");
        file.flush();
        CGIUtil util(8);
        Recorder rec(&util);
        const char *const paths[] = {"/action/get?subject=sample", "/action/set?subject=sample",
                                     "/action/set?subject=sample", "/action/upload?file=fw"};
        QVERIFY(prepare(util, mode, base + paths[mode], "admin", "1234", "<request/>", file.fileName()));
        QVERIFY(runToEnd(util));
        QCOMPARE(rec.events, QStringList({closed ? "h:10" : "h:255"}));
    }

    void malformedUrlHost() { QCOMPARE(get(QStringLiteral("http://[zz/action/get")), QStringList({"h:255"})); }

    void settersRefuseBadArguments_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        // An empty url stands for the device's own.
        const auto row = [](const char *name, int mode, const char *url, const char *user, const char *password) {
            QTest::newRow(name) << mode << QString(url) << QString(user) << QString(password);
        };
        row("scheme in capitals", 0, "HTTP://127.0.0.1/", "admin", "1234");
        row("leading blank", 0, " http://127.0.0.1/", "admin", "1234");
        row("no user", 0, "", "", "1234");
        row("no password", 0, "", "admin", "");
        row("post without body", 1, "", "admin", "1234");
        row("postEx without body", 2, "", "admin", "1234");
        row("upload without file", 3, "", "admin", "1234");
        row("postEx with empty body", 4, "", "admin", "1234");
    }

    void settersRefuseBadArguments()
    {
        QFETCH(int, mode);
        QFETCH(QString, url);
        QFETCH(QString, user);
        QFETCH(QString, password);
        if (url.isEmpty())
            url = sample();
        CGIUtil util(1);
        // Mode 4: a POST without reply whose body is empty rather than missing.
        QVERIFY(!prepare(util, mode == 4 ? 2 : mode, url, user, password, mode == 4 ? "" : nullptr, QString()));
        // Nothing was prepared, so the thread has nothing to send.
        Recorder rec(&util);
        QVERIFY(runToEnd(util));
        QVERIFY(rec.events.isEmpty());
        QVERIFY(m_dev->requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCgiCodes)
#include "tst_codes.moc"
