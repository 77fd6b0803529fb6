#include <QtTest>

#include "devicesim/device.h"
#include "devicesim/settingsets.h"
#include "devicesim/xmltree.h"
#include "rawclient.h"

using namespace devicesim;

namespace {

QByteArray basic(const QByteArray &user, const QByteArray &password)
{
    return "Basic " + (user + ':' + password).toBase64();
}

QByteArray get(const QByteArray &target, const QByteArray &auth = basic("admin", "1234"))
{
    QByteArray r = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!auth.isEmpty())
        r += "Authorization: " + auth + "\r\n";
    return r + "\r\n";
}

QByteArray post(const QByteArray &target, const QByteArray &body, const QByteArray &auth = basic("admin", "1234"))
{
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + auth +
           "\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray bodyOf(const QByteArray &reply)
{
    const int end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : reply.mid(end + 4);
}

const QByteArray Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

} // namespace

class TestDeviceHttp : public QObject
{
    Q_OBJECT

    std::unique_ptr<Device> m_dev;

    quint16 port() const { return m_dev->port(); }

private slots:
    void init()
    {
        m_dev.reset(new Device);
        m_dev->setCredentials(QStringLiteral("admin"), QStringLiteral("1234"));
        QVERIFY(m_dev->loadSubjects(QStringLiteral(DEVICESIM_SUBJECTS_DIR)));
        QVERIFY(m_dev->start());
    }

    void cleanup() { m_dev.reset(); }

    void requestReadInPiecesOrWhole()
    {
        const QByteArray req = get("/action/get?subject=sample");
        const RawReply whole = rawExchange(port(), req);
        const RawReply bytewise = rawExchange(port(), req, 5000, true);
        QCOMPARE(whole.end, RawReply::Closed);
        QCOMPARE(bytewise.bytes, whole.bytes);
        QVERIFY(whole.bytes.startsWith("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "));
        QVERIFY(whole.bytes.contains("\r\nConnection: close\r\n"));
        const QByteArray body = bodyOf(whole.bytes);
        QVERIFY(body.startsWith(Declaration + "<response>"));
        QVERIFY(body.contains("<text>A  B</text>"));
        QVERIFY(body.contains(QStringLiteral("<title>Kamera é 東京</title>").toUtf8()));
        const auto log = m_dev->requests();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].headers, log[1].headers);
        QCOMPARE(log[1].key, QStringLiteral("sample"));
        QCOMPARE(log[1].status, 200);
    }

    void chunkedBodyIsDecoded()
    {
        const QByteArray body = "<request><name>Chunky</name></request>";
        QByteArray req = "POST /action/set?subject=sample HTTP/1.1\r\nAuthorization: " + basic("admin", "1234") +
                         "\r\nTransfer-Encoding: chunked\r\n\r\n";
        req += "5;ext=1\r\n" + body.left(5) + "\r\n";
        req += QByteArray::number(body.size() - 5, 16) + "\r\n" + body.mid(5) + "\r\n0\r\n\r\n";
        const RawReply r = rawExchange(port(), req, 3000, true);
        QVERIFY(r.bytes.startsWith("HTTP/1.0 200 OK"));
        QCOMPARE(m_dev->requests().value(0).body, body);
        QVERIFY(m_dev->subject(QStringLiteral("sample")).contains("<name>Chunky</name>"));
    }

    void credentialsAreChecked()
    {
        m_dev->setForbiddenUser(QStringLiteral("guest"));
        const RawReply missing = rawExchange(port(), get("/action/get?subject=sample", {}));
        const RawReply wrong = rawExchange(port(), get("/action/get?subject=sample", basic("admin", "x")));
        const RawReply forbidden = rawExchange(port(), get("/action/get?subject=sample", basic("guest", "g")));
        const RawReply broken = rawExchange(port(), get("/action/get?subject=sample", "Basic !!!"));
        for (const RawReply *r : {&missing, &wrong, &broken}) {
            QVERIFY(r->bytes.startsWith("HTTP/1.0 401 Unauthorized\r\n"));
            QVERIFY(r->bytes.contains("\r\nWWW-Authenticate: Basic realm=\"device\"\r\n"));
        }
        QVERIFY(forbidden.bytes.startsWith("HTTP/1.0 403 Forbidden\r\n"));
        const auto log = m_dev->requests();
        QCOMPARE(log[0].credentialsSent, false);
        QCOMPARE(log[1].user, QStringLiteral("admin"));
        QCOMPARE(log[1].password, QStringLiteral("x"));
        QCOMPARE(log[1].authorized, false);
        QCOMPARE(log[1].status, 401);
        QCOMPARE(log[2].status, 403);

        // A ':' inside the user name still matches the configured pair.
        m_dev->setCredentials(QStringLiteral("ad:min"), QStringLiteral("p:w"));
        const RawReply colon = rawExchange(port(), get("/action/get?subject=sample", basic("ad:min", "p:w")));
        QVERIFY(colon.bytes.startsWith("HTTP/1.0 200"));
        QCOMPARE(m_dev->requests().last().user, QStringLiteral("ad:min"));
    }

    void unknownPathsAndSubjects()
    {
        QVERIFY(rawExchange(port(), get("/cgi-bin/nothing")).bytes.startsWith("HTTP/1.0 404 Not Found\r\n"));
        QVERIFY(rawExchange(port(), get("/action/get?subject=nothing")).bytes.startsWith("HTTP/1.0 404"));
        QVERIFY(rawExchange(port(), get("/action/set?subject=sample")).bytes.startsWith("HTTP/1.0 404"));
        QVERIFY(rawExchange(port(), "NONSENSE\r\n\r\n").bytes.startsWith("HTTP/1.0 400"));
    }

    void generatedSubject()
    {
        int calls = 0;
        m_dev->setSubjectSource("sample", [&calls] { return "<n>" + QByteArray::number(++calls) + "</n>"; });
        for (const QByteArray n : {"1", "2"})
            QVERIFY(bodyOf(rawExchange(port(), get("/action/get?subject=sample")).bytes).endsWith("<n>" + n + "</n>"));
        m_dev->setSubjectSource("sample", {});
        QCOMPARE(bodyOf(rawExchange(port(), get("/action/get?subject=sample")).bytes).contains("<n>"), false);
        QVERIFY(rawExchange(port(), get("/action/get?subject=sample")).bytes.startsWith("HTTP/1.0 200"));
    }

    void imageStyleOption()
    {
        devicesim::Device dev;
        QVERIFY(dev.loadSubjects(QStringLiteral(DEVICESIM_SUBJECTS_DIR)));
        QVERIFY(devicesim::setImageStyle(dev, 1));
        QVERIFY(dev.subject("devability").contains("<imgstyle>1</imgstyle>"));
        dev.setSubject("devability", "<response><devability><adapter>2</adapter></devability></response>");
        QVERIFY(devicesim::setImageStyle(dev, 0));
        QVERIFY(dev.subject("devability").contains("<imgstyle>0</imgstyle>"));
        dev.setSubject("devability", "<response>");
        QVERIFY(!devicesim::setImageStyle(dev, 1));
    }

    void subjectKeyKeepsQueryOrder()
    {
        m_dev->setSubject(QStringLiteral("network&adapter=1&x=2"), "<response><ip>1</ip></response>");
        const RawReply r = rawExchange(port(), get("/action/get?adapter=1&subject=network&x=2"));
        QCOMPARE(bodyOf(r.bytes), Declaration + "<response><ip>1</ip></response>");
    }

    void setMergesIntoStoredDocument()
    {
        const QByteArray set = "<?xml version=\"1.0\"?><request><name>Hall  2</name><network><adapter>"
                               "<dns>9.9.9.9</dns><dns>8.8.8.8</dns><dns>7.7.7.7</dns><gw>g</gw></adapter>"
                               "</network><note>  </note></request>";
        const RawReply r = rawExchange(port(), post("/action/set?subject=sample", set));
        QCOMPARE(bodyOf(r.bytes), QByteArray("<response><status>0</status></response>"));
        XmlNode doc;
        QString error;
        QVERIFY(XmlNode::parse(bodyOf(rawExchange(port(), get("/action/get?subject=sample")).bytes), &doc, &error));
        QCOMPARE(doc.name, QStringLiteral("response"));
        QCOMPARE(doc.children[0].text, QStringLiteral("Hall  2"));
        const XmlNode &adapter = doc.children[2].children[0];
        QStringList texts;
        for (const XmlNode &n : adapter.children)
            texts << n.name + QLatin1Char('=') + n.text;
        QCOMPARE(texts,
                 QStringList({"mode=static", "ip=192.0.2.10", "dns=9.9.9.9", "dns=8.8.8.8", "dns=7.7.7.7", "gw=g"}));
        QCOMPARE(doc.children.last().name, QStringLiteral("note"));
        QCOMPARE(doc.children.last().text, QStringLiteral("  "));

        // An unknown key is created; the reply of a key can be replaced.
        m_dev->setSetReply(QStringLiteral("fresh"), "<response><status>7</status></response>");
        const RawReply created = rawExchange(port(), post("/action/set?subject=fresh", "<request><a>1</a></request>"));
        QVERIFY(bodyOf(created.bytes).contains("<status>7</status>"));
        QVERIFY(m_dev->subject(QStringLiteral("fresh")).contains("<a>1</a>"));
        QVERIFY(m_dev->subject(QStringLiteral("fresh")).startsWith("<response>"));
    }

    void setRefusesWhatIsNotARequest()
    {
        const QByteArray before = m_dev->subject(QStringLiteral("sample"));
        for (const QByteArray &body : {QByteArray("<request><a></request>"), QByteArray("<response><a/></response>"),
                                       QByteArray("plain text")}) {
            QVERIFY(rawExchange(port(), post("/action/set?subject=sample", body)).bytes.startsWith("HTTP/1.0 400"));
        }
        QCOMPARE(m_dev->subject(QStringLiteral("sample")), before);
    }

    // The schedules take their own document back; other subjects still want <request>.
    void setAcceptsScheduleOwnRoot()
    {
        for (const char *key : {"schetask&type=1", "alarm&type=2"}) {
            const QByteArray root = QByteArray(key).left(QByteArray(key).indexOf('&'));
            const QByteArray body = "<" + root + " ver=\"2.0\"><active>1</active></" + root + ">";
            const QByteArray target = "/action/set?subject=" + QByteArray(key);
            QVERIFY(rawExchange(port(), post(target, body)).bytes.startsWith("HTTP/1.0 200"));
            XmlNode doc;
            QString error;
            QVERIFY(XmlNode::parse(m_dev->subject(QString::fromLatin1(key)), &doc, &error));
            QCOMPARE(doc.name, QString::fromLatin1(root));
            QCOMPARE(doc.children.at(0).text, QStringLiteral("1"));
            QCOMPARE(doc.children.at(1).children.size(), 7); // the week stays
        }
        QVERIFY(rawExchange(port(), post("/action/set?subject=sample", "<response><count>1</count></response>"))
                    .bytes.startsWith("HTTP/1.0 400"));
    }

    // A schedule sent back naming every part replaces the stored one, so a
    // section left out is gone; the actions beside the week stay as sent.
    void setReplacesWholeSchedule()
    {
        const QByteArray body = "<alarm ver=\"2.0\"><active>2</active><week><day id=\"1\"><section><start>01:00</start>"
                                "<end>02:00</end></section></day></week><record>0</record><snapshot>1</snapshot>"
                                "<ftp>0</ftp><sendemail>0</sendemail><alarmout>0</alarmout>"
                                "<notifyserver>0</notifyserver><audioout>1</audioout></alarm>";
        QVERIFY(rawExchange(port(), post("/action/set?subject=alarm&type=2", body)).bytes.startsWith("HTTP/1.0 200"));
        XmlNode stored, sent;
        QString error;
        QVERIFY(XmlNode::parse(m_dev->subject(QStringLiteral("alarm&type=2")), &stored, &error));
        QVERIFY(XmlNode::parse(body, &sent, &error));
        QCOMPARE(stored.print(), sent.print());
    }

    void accounts_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("names");
        const QStringList all{"admin", "operator1", "viewer1"};
        QTest::newRow("del") << QByteArray("del") << QByteArray("<name>viewer1</name>") << 200
                             << QStringList{"admin", "operator1"};
        QTest::newRow("del unknown") << QByteArray("del") << QByteArray("<name>nobody</name>") << 500 << all;
        QTest::newRow("del login") << QByteArray("del") << QByteArray("<name>admin</name>") << 500 << all;
        QTest::newRow("add") << QByteArray("add")
                             << QByteArray("<name>guest1</name><password>pw</password><group>2</group>") << 200
                             << all + QStringList{"guest1"};
        QTest::newRow("add existing") << QByteArray("add") << QByteArray("<name>operator1</name><password>x</password>")
                                      << 409 << all;
        QTest::newRow("modify unknown") << QByteArray("modify") << QByteArray("<name>nobody</name><group>1</group>")
                                        << 500 << all;
    }

    void accounts()
    {
        QFETCH(QByteArray, action);
        QFETCH(QByteArray, user);
        QFETCH(int, status);
        QFETCH(QStringList, names);
        const QByteArray body = "<request><user ver=\"2.0\">" + user + "</user></request>";
        const RawReply r = rawExchange(port(), post("/action/set?subject=user&do=" + action, body));
        QVERIFY2(r.bytes.startsWith("HTTP/1.0 " + QByteArray::number(status)), r.bytes.constData());
        XmlNode doc;
        QString error;
        QVERIFY(XmlNode::parse(m_dev->subject(QStringLiteral("user")), &doc, &error));
        QStringList got;
        for (const XmlNode &u : doc.children)
            got << u.children.at(0).text;
        QCOMPARE(got, names);
        QVERIFY(!m_dev->subject(QStringLiteral("user")).contains("<password>"));
        QVERIFY(!m_dev->hasSubject(QStringLiteral("user&do=") + QString::fromLatin1(action)));
    }

    // Modifying the login account's password changes what the device accepts.
    void modifyLoginPassword()
    {
        const QByteArray body = "<request><user ver=\"2.0\"><name>admin</name><password>pw2</password><group>0</group>"
                                "<permit><config>1</config><operation>2</operation></permit></user></request>";
        QVERIFY(rawExchange(port(), post("/action/set?subject=user&do=modify", body)).bytes.startsWith("HTTP/1.0 200"));
        QCOMPARE(m_dev->password(), QStringLiteral("pw2"));
        QVERIFY(m_dev->subject(QStringLiteral("user")).contains("<config>1</config>"));
        QVERIFY(rawExchange(port(), get("/action/get?subject=user")).bytes.startsWith("HTTP/1.0 401"));
        QVERIFY(rawExchange(port(), get("/action/get?subject=user", basic("admin", "pw2")))
                    .bytes.startsWith("HTTP/1.0 200"));
    }

    void formatFreesTheDisk()
    {
        const QByteArray body = "<request><diskfmt><disk>0</disk><fmt>0</fmt></diskfmt></request>";
        QVERIFY(rawExchange(port(), post("/action/set?subject=diskfmt", body)).bytes.startsWith("HTTP/1.0 200"));
        const QByteArray disk = m_dev->subject(QStringLiteral("diskinfo&id=0"));
        QVERIFY2(disk.contains("<free>1073741824000</free>"), disk.constData());
    }

    void importExportPtzAndUpload()
    {
        const QByteArray blob("\x00\x01config\xff", 9);
        rawExchange(port(), post("/action/import", blob));
        QCOMPARE(bodyOf(rawExchange(port(), get("/action/export")).bytes), blob);
        rawExchange(port(), post("/action/ptz?subject=ctrl", "<request><cmd>left</cmd></request>"));
        QCOMPARE(m_dev->ptzCommands(), QList<QByteArray>{"<request><cmd>left</cmd></request>"});

        static const char raw[] = "GIF89a\x00\x01\r\n--not-the-boundary\r\n";
        const QByteArray file(raw, sizeof raw - 1);
        const QByteArray form = "--XyZ\r\nContent-Disposition: form-data; name=\"sendfile\"; filename=\"logo.gif\"\r\n"
                                "Content-Type: image/gif\r\n\r\n" +
                                file + "\r\n--XyZ--\r\n";
        QByteArray req = "POST /action/upload?file=logo HTTP/1.1\r\nAuthorization: " + basic("admin", "1234") +
                         "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: " +
                         QByteArray::number(form.size()) + "\r\n\r\n" + form;
        QVERIFY(rawExchange(port(), req).bytes.startsWith("HTTP/1.0 200"));
        FormPart part;
        QVERIFY(m_dev->upload(QStringLiteral("sendfile"), &part));
        QCOMPARE(part.fileName, QStringLiteral("logo.gif"));
        QCOMPARE(part.contentType, QByteArray("image/gif"));
        QCOMPARE(part.data, file);
        req.replace("boundary=XyZ", "boundary=Other");
        QVERIFY(rawExchange(port(), req).bytes.startsWith("HTTP/1.0 400"));
    }

    void presetCommandsChangeStoredPtz()
    {
        auto ptz = [this](const QByteArray &cmd) {
            return rawExchange(port(),
                               post("/action/ptz?subject=ctrl", "<request><ptzcmd>" + cmd + "</ptzcmd></request>"))
                .bytes;
        };
        QVERIFY(ptz("<cmd>4098</cmd><preset><index>5</index><name>a&lt;b</name></preset>").startsWith("HTTP/1.0 200"));
        QVERIFY(ptz("<cmd>4099</cmd><preset><index>1</index></preset>").startsWith("HTTP/1.0 200"));
        QVERIFY(ptz("<cmd>4098</cmd><preset><index>129</index><name>x</name></preset>").startsWith("HTTP/1.0 200"));
        const QByteArray stored = m_dev->subject(QStringLiteral("ptz"));
        QVERIFY2(stored.contains("<pname></pname>\n            <pname></pname>\n            <pname>Door</pname>\n"
                                 "            <pname></pname>\n            <pname>a&lt;b</pname>\n        </preset>"),
                 stored.constData());
        QVERIFY(stored.contains("<speed>2</speed>"));

        for (const QByteArray &body : {QByteArray("<request><ptzcmd>"), QByteArray("<response/>")})
            QVERIFY(rawExchange(port(), post("/action/ptz?subject=ctrl", body)).bytes.startsWith("HTTP/1.0 400"));
        QCOMPARE(m_dev->ptzCommands().size(), 5);
        QCOMPARE(m_dev->subject(QStringLiteral("ptz")), stored);
    }

    void faultsSendExactlyTheirBytes()
    {
        const QByteArray req = get("/action/get?subject=sample");
        const QByteArray normal = rawExchange(port(), req).bytes;
        QVERIFY(normal.startsWith("HTTP/1.0 200 OK\r\n"));
        const QByteArray normalBody = bodyOf(normal);
        const QByteArray normalHead = normal.left(normal.size() - normalBody.size());

        m_dev->addFault(QStringLiteral("get:sample"), Fault::status(409, "<x/>"), 1);
        QCOMPARE(rawExchange(port(), req).bytes,
                 QByteArray("HTTP/1.0 409 Conflict\r\nContent-Type: text/xml\r\nContent-Length: 4\r\n"
                            "Connection: close\r\n\r\n<x/>"));
        QCOMPARE(rawExchange(port(), req).bytes, normal); // the fault was for one request

        m_dev->addFault(QStringLiteral("sample"), Fault::malformedStatus(), 1);
        QCOMPARE(rawExchange(port(), req).bytes, "HTTP/1.1  200 OK\r\n" + normal.mid(17));

        m_dev->addFault(QStringLiteral("*"), Fault::interim100(), 1);
        QCOMPARE(rawExchange(port(), req).bytes, "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n" + normal.mid(17));

        m_dev->addFault(QStringLiteral("/action/get"), Fault::delay(400), 1);
        const RawReply delayed = rawExchange(port(), req);
        QCOMPARE(delayed.bytes, normal);
        QVERIFY2(delayed.firstByteMs >= 350, QByteArray::number(delayed.firstByteMs));

        m_dev->addFault(QStringLiteral("*"), Fault::stall(), 1);
        const RawReply stalled = rawExchange(port(), req, 600);
        QCOMPARE(stalled.end, RawReply::TimedOut);
        QCOMPARE(stalled.bytes, normalHead + normalBody.left(normalBody.size() / 2));

        m_dev->addFault(QStringLiteral("*"), Fault::cut(), 1);
        const RawReply cut = rawExchange(port(), req);
        QCOMPARE(cut.end, RawReply::Closed);
        QCOMPARE(cut.bytes, normalHead + normalBody.left(normalBody.size() / 2));

        m_dev->addFault(QStringLiteral("*"), Fault::trickle(64, 5), 1);
        const RawReply trickled = rawExchange(port(), req);
        QCOMPARE(trickled.bytes, normal);
        QVERIFY(trickled.reads >= normalBody.size() / 64);

        m_dev->addFault(QStringLiteral("*"), Fault::largeBody(500000), 1);
        const RawReply large = rawExchange(port(), req);
        QVERIFY(large.bytes.startsWith("HTTP/1.0 200 OK\r\n"));
        QVERIFY(large.bytes.contains("\r\nContent-Length: 500000\r\n"));
        QCOMPARE(bodyOf(large.bytes), Fault::pattern(500000));

        m_dev->addFault(QStringLiteral("*"), Fault::drop(), 1);
        const RawReply dropped = rawExchange(port(), req);
        QCOMPARE(dropped.end, RawReply::Closed);
        QCOMPARE(dropped.bytes, QByteArray());

        m_dev->addFault(QStringLiteral("*"), Fault::reset(), 1);
        const RawReply reset = rawExchange(port(), req);
        QCOMPARE(reset.end, RawReply::Reset);
        QCOMPARE(reset.bytes, QByteArray());

        m_dev->addFault(QStringLiteral("*"), Fault::garbage(), 1);
        const RawReply garbage = rawExchange(port(), req);
        QCOMPARE(garbage.end, RawReply::Closed);
        QCOMPARE(garbage.bytes, Fault::garbageBytes());

        m_dev->addFault(QStringLiteral("*"), Fault::silent(), 1);
        const RawReply silent = rawExchange(port(), req, 400);
        QCOMPARE(silent.end, RawReply::TimedOut);
        QCOMPARE(silent.bytes, QByteArray());
        QVERIFY(m_dev->waitFor([](const QList<LoggedRequest> &l) { return l.last().peerClosed; }, 2000));

        QCOMPARE(rawExchange(port(), req).bytes, normal); // every fault above was for one request
    }

    void faultsMatchByPathActionAndKey()
    {
        m_dev->addFault(QStringLiteral("set:sample"), Fault::status(500));
        QVERIFY(rawExchange(port(), get("/action/get?subject=sample")).bytes.startsWith("HTTP/1.0 200"));
        QVERIFY(rawExchange(port(), post("/action/set?subject=sample", "<request/>")).bytes.startsWith("HTTP/1.0 500"));
        QVERIFY(rawExchange(port(), post("/action/set?subject=sample", "<request/>")).bytes.startsWith("HTTP/1.0 500"));
        m_dev->clearFaults();
        m_dev->addFault(QStringLiteral("/action/upload"), Fault::status(415));
        QVERIFY(rawExchange(port(), post("/action/upload?file=logo", "x")).bytes.startsWith("HTTP/1.0 415"));
        QVERIFY(rawExchange(port(), post("/action/set?subject=sample", "<request/>")).bytes.startsWith("HTTP/1.0 200"));

        Fault f;
        int times = 0;
        QString error;
        QVERIFY(Fault::parse(QStringLiteral("delay:3000"), &f, &times, &error));
        QCOMPARE(f.kind, Fault::Delay);
        QCOMPARE(f.delayMs, 3000);
        QCOMPARE(times, -1);
        QVERIFY(Fault::parse(QStringLiteral("trickle:16:20/3"), &f, &times, &error));
        QCOMPARE(f.kind, Fault::Trickle);
        QCOMPARE(f.chunkBytes, 16);
        QCOMPARE(times, 3);
        QVERIFY(Fault::parse(QStringLiteral("cut/1"), &f, &times, &error));
        QCOMPARE(f.kind, Fault::Cut);
        QCOMPARE(times, 1);
        QVERIFY(Fault::parse(QStringLiteral("599"), &f, &times, &error));
        QCOMPARE(f.code, 599);
        QVERIFY(!Fault::parse(QStringLiteral("explode"), &f, &times, &error));
        QVERIFY(!Fault::parse(QStringLiteral("500/0"), &f, &times, &error));
    }

    void logRecordsTheRequest()
    {
        const QByteArray body = "<request><name>N</name></request>";
        rawExchange(port(), post("/action/set?subject=sample&x=1", body, basic("admin", "1234")));
        const auto log = m_dev->requests();
        QCOMPARE(log.size(), 1);
        const LoggedRequest &e = log[0];
        QCOMPARE(e.method, QByteArray("POST"));
        QCOMPARE(e.path, QByteArray("/action/set"));
        QCOMPARE(e.query, QByteArray("subject=sample&x=1"));
        QCOMPARE(e.key, QStringLiteral("sample&x=1"));
        QCOMPARE(e.headers.value(0).first, QByteArray("Host"));
        QCOMPARE(e.headers.value(2).first, QByteArray("Content-Type"));
        QCOMPARE(e.body, body);
        QVERIFY(e.authorized);
        QCOMPARE(e.status, 200);
        QVERIFY(qAbs(e.arrival.secsTo(QDateTime::currentDateTime())) < 5);
        m_dev->clearLog();
        QVERIFY(m_dev->requests().isEmpty());
    }

    void onlyLoopbackAddresses()
    {
        Device other;
        QString error;
        QVERIFY(!other.start(QHostAddress(QStringLiteral("10.0.0.1")), 0, &error));
        QVERIFY(error.contains(QLatin1String("loopback")));
        QVERIFY(!other.start(QHostAddress(QStringLiteral("::1"))));
        QVERIFY(!other.start(QHostAddress::Any));
        QVERIFY(other.start(QHostAddress(QStringLiteral("127.0.0.2")), port())); // same port, other address
        QCOMPARE(other.port(), port());
        other.setSubject(QStringLiteral("sample"), "<response><who>two</who></response>");
        const RawReply r = rawExchange(port(), get("/action/get?subject=sample"), 3000, false, "127.0.0.2");
        QVERIFY(bodyOf(r.bytes).contains("<who>two</who>"));
        QCOMPARE(other.requests().value(0).localAddress, QHostAddress(QStringLiteral("127.0.0.2")));
    }

    void commandLine()
    {
        QProcess refused;
        refused.start(QStringLiteral(DEVICESIM_CLI), {"--http", "0", "--address", "10.0.0.1"});
        QVERIFY(refused.waitForFinished(10000));
        QCOMPARE(refused.exitCode(), 2);
        QVERIFY(refused.readAllStandardError().contains("not a loopback address"));

        QProcess cli;
        cli.start(QStringLiteral(DEVICESIM_CLI),
                  {"--http", "0", "--user", "admin", "--password", "1234", "--fault", "set:sample=500/1", "--bodies"});
        QVERIFY(cli.waitForReadyRead(10000));
        const QByteArray first = cli.readLine().trimmed();
        QVERIFY2(first.startsWith("listening on 127.0.0.1:"), first);
        // "listening on 127.0.0.1:PORT: cgi, stream (...), alarm, talk"
        const QByteArray afterHost = first.mid(int(qstrlen("listening on 127.0.0.1:")));
        const quint16 cliPort = quint16(afterHost.left(afterHost.indexOf(':')).toUInt());
        QVERIFY(rawExchange(cliPort, get("/action/get?subject=sample")).bytes.startsWith("HTTP/1.0 200"));
        QVERIFY(rawExchange(cliPort, get("/action/get?subject=sample", basic("admin", "x")))
                    .bytes.startsWith("HTTP/1.0 401"));
        QVERIFY(
            rawExchange(cliPort, post("/action/set?subject=sample", "<request/>")).bytes.startsWith("HTTP/1.0 500"));
        QByteArray lines;
        QTRY_VERIFY_WITH_TIMEOUT((lines += cli.readAllStandardOutput()).count('\n') >= 4, 5000);
        const QList<QByteArray> l = lines.trimmed().split('\n');
        QCOMPARE(l[0], QByteArray("GET /action/get?subject=sample user \"admin\" accepted status 200"));
        QCOMPARE(l[1], QByteArray("GET /action/get?subject=sample user \"admin\" refused status 401"));
        QCOMPARE(l[2],
                 QByteArray("POST /action/set?subject=sample user \"admin\" accepted status 500 (fault: status 500)"));
        QCOMPARE(l[3], QByteArray("  <request/>"));
        cli.terminate(); // SIGTERM ends it cleanly
        QVERIFY(cli.waitForFinished(10000));
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit, cli.readAllStandardError().constData());
        QCOMPARE(cli.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeviceHttp)
#include "tst_http.moc"
