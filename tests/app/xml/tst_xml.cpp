#include <QtTest>

#include "app/core/qcxmlhelper.h"
#include "app/core/xmlbuffer.h"
#include "tests/support/guardedbytes.h"

class TestXml : public QObject
{
    Q_OBJECT
private slots:
    void deepSearchGoesToFollowingSiblingsNeverUp()
    {
        qcXmlHelper x("<response><net><eth/></net><ipv4><addr>1</addr></ipv4></response>");
        QVERIFY(x.enterElement("eth", true));
        // ipv4 follows eth's parent, not eth: from eth it is out of reach.
        QVERIFY(!x.enterElement("ipv4", false));
        QVERIFY(!x.enterElement("response", false));
        QVERIFY(x.enterElement("net", true));
        QVERIFY(x.enterElement("ipv4", false));
        QString v;
        QVERIFY(x.getText("addr", &v));
        QCOMPARE(v, QString("1"));
        // A failed search keeps the current element.
        QVERIFY(!x.enterElement("nothere", false));
        QVERIFY(x.getText("addr", &v));
    }

    void emptyTextFailsGetStringButNotGetText()
    {
        qcXmlHelper x("<r><name></name><other>x</other></r>");
        QString v = "unchanged";
        QVERIFY(!x.getString("name", &v));
        QCOMPARE(v, QString("unchanged"));
        QVERIFY(!x.getString("missing", &v));
        QVERIFY(!x.getText("other", &v)); // getString made <name> current; nothing below it
        QVERIFY(x.enterElement("r", true));
        QVERIFY(x.getText("name", &v));
        QCOMPARE(v, QString(""));
        QVERIFY(!x.getText("missing", &v));
    }

    void getTextSearchesNestedContainersFirst()
    {
        // The outer key element holds a section; the nested key wins over
        // the outer one, and a later direct key loses to the earlier nested one.
        qcXmlHelper x("<page><sec><key>inner</key></sec><key>outer</key></page>");
        QVERIFY(x.enterElement("page", true));
        QString v;
        QVERIFY(x.getText("key", &v));
        QCOMPARE(v, QString("inner"));

        qcXmlHelper y("<page><name><name>nested</name></name></page>");
        QVERIFY(y.enterElement("page", true));
        QVERIFY(y.getText("name", &v));
        QCOMPARE(v, QString("nested"));

        // An element whose first child is an element yields "" (not its child's text).
        qcXmlHelper z("<page><k><b>x</b>tail</k></page>");
        QVERIFY(z.enterElement("page", true));
        QVERIFY(z.getText("k", &v));
        QCOMPARE(v, QString(""));
    }

    void toTextDropsDeclarationAndIndents()
    {
        qcXmlHelper x(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- c --><response><a>1</a><b><c>2</c></b></response>");
        const QByteArray expected = "<response>\n    <a>1</a>\n    <b>\n        <c>2</c>\n    </b>\n</response>\n";
        QCOMPARE(x.toText(), expected);

        QByteArray buf(expected.size() + 8, 'Z');
        QCOMPARE(x.toText(buf.data(), expected.size()), -1); // no room for the zero
        QCOMPARE(buf, QByteArray(expected.size() + 8, 'Z'));
        QCOMPARE(x.toText(buf.data(), expected.size() + 1), expected.size());
        QCOMPARE(QByteArray(buf.constData()), expected);
        QCOMPARE(x.toText(nullptr, 1000), -1);

        qcXmlHelper empty("not xml at all");
        QVERIFY(empty.toText().isEmpty());
        QCOMPARE(empty.toText(buf.data(), buf.size()), -1);
    }

    void toTextIntoTheSourceBuffer()
    {
        QByteArray src = "<response><v>1</v></response>";
        src.reserve(256);
        qcXmlHelper x(src.constData());
        QVERIFY(x.renameElement("response", "request"));
        QVERIFY(x.setElementInt("v", 42));
        const int n = x.toText(src.data(), src.capacity());
        QVERIFY(n > 0);
        QCOMPARE(QByteArray(src.constData(), n), QByteArray("<request>\n    <v>42</v>\n</request>\n"));
    }

    void setElementIntNeedsTextChildSetTextAddsOne()
    {
        qcXmlHelper x("<r><port/><nested><x>1</x></nested></r>");
        QVERIFY(!x.setElementInt("port", 80));
        QCOMPARE(x.toText(), QByteArray("<r>\n    <port />\n    <nested>\n        <x>1</x>\n    </nested>\n</r>\n"));
        QVERIFY(!x.setElementInt("missing", 1));
        QVERIFY(x.setText("port", "8080"));
        QString v;
        QVERIFY(x.getString("port", &v));
        QCOMPARE(v, QString("8080"));
        QVERIFY(x.setElementInt("port", -5));
        QVERIFY(x.getString("port", &v));
        QCOMPARE(v, QString("-5"));
        // First child an element: nothing is replaced.
        QVERIFY(!x.setText("nested", "y"));
        QVERIFY(x.getString("x", &v));
        QCOMPARE(v, QString("1"));
    }

    void addElementNeedsCurrentElement()
    {
        qcXmlHelper x("<r><a>1</a></r>");
        QVERIFY(!x.addElement("n"));
        QVERIFY(!x.addElementText("n", "t"));
        QVERIFY(!x.setElementText("a", "t"));
        QString v;
        QVERIFY(!x.getText("a", &v));
        QVERIFY(x.enterElement("r", true));
        QVERIFY(x.addElement("n"));
        QVERIFY(x.addElementText("m", "t"));
        QCOMPARE(x.toText(), QByteArray("<r>\n    <a>1</a>\n    <n />\n    <m>t</m>\n</r>\n"));
    }

    // The network page writes two servers over however many the reply had.
    void dnsSequence_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("two servers") << QByteArray("<dns>8.8.8.8</dns><dns>8.8.4.4</dns>");
        QTest::newRow("one server") << QByteArray("<dns>8.8.8.8</dns>");
    }

    void dnsSequence()
    {
        QFETCH(QByteArray, reply);
        qcXmlHelper x(("<request><ipv4><ip>1.2.3.4</ip>" + reply + "</ipv4></request>").constData());
        QVERIFY(x.enterElement("ipv4", true));
        QVERIFY(x.setElementText("dns", "1.1.1.1"));
        const bool second = x.nextSibling();
        QCOMPARE(second, reply.count("<dns>") == 2);
        QVERIFY(second ? x.setCurrentText("9.9.9.9") : x.addElementText("dns", "9.9.9.9"));
        QCOMPARE(x.toText(), QByteArray("<request>\n    <ipv4>\n        <ip>1.2.3.4</ip>\n"
                                        "        <dns>1.1.1.1</dns>\n        <dns>9.9.9.9</dns>\n"
                                        "    </ipv4>\n</request>\n"));
    }

    void childWalkCursor()
    {
        qcXmlHelper x("<r><a>1</a><b>2</b></r>");
        QVERIFY(!x.nextSibling()); // no cursor yet
        QVERIFY(!x.setCurrentText("x"));
        QVERIFY(x.enterElement("r", true));
        // Match on the first child leaves the cursor unset.
        QVERIFY(x.setChildInt("a", 7));
        QVERIFY(!x.setCurrentText("x"));
        // No match: the walk runs off the end and the cursor is empty.
        QVERIFY(x.setChildInt("b", 8));
        QVERIFY(x.setCurrentText("9")); // cursor rests on b
        QVERIFY(!x.setElementText("zz", "x"));
        QVERIFY(!x.setCurrentText("x"));
        QCOMPARE(x.toText(), QByteArray("<r>\n    <a>7</a>\n    <b>9</b>\n</r>\n"));
    }

    // UTF-8 and the blanks inside texts survive printing and parsing again.
    void textsRoundTrip()
    {
        const QString name = QString::fromUtf8("Kamera é 東京");
        QByteArray printed;
        {
            qcXmlHelper x("<r>\n  <name>old</name>\n  <pwd>A  B</pwd>\n  <lead>  x </lead>\n</r>");
            QVERIFY(x.setText("name", name));
            printed = x.toText();
        }
        QVERIFY(printed.contains(name.toUtf8()));
        QVERIFY(printed.contains("<pwd>A  B</pwd>"));
        qcXmlHelper y(printed.constData());
        QString v;
        QVERIFY(y.getString("name", &v));
        QCOMPARE(v, name);
        QVERIFY(y.getString("lead", &v));
        QCOMPARE(v, QString("  x "));
        QVERIFY(y.enterElement("r", true));
        QVERIFY(y.getText("pwd", &v));
        QCOMPARE(v, QString("A  B"));
    }

    void textLengthLimit()
    {
        const QByteArray ok(1023, 'a');
        const QByteArray tooLong(1024, 'a');
        qcXmlHelper x(QByteArray("<r><ok>" + ok + "</ok><long>" + tooLong + "</long></r>").constData());
        QVERIFY(x.enterElement("r", true));
        QString v;
        QVERIFY(x.getText("ok", &v));
        QCOMPARE(v.size(), 1023);
        QVERIFY(!x.getText("long", &v));
        // The limit counts UTF-8 bytes: 512 two-byte letters are 1024 bytes.
        qcXmlHelper y(QByteArray("<r><k>" + QString(512, QChar(0xe9)).toUtf8() + "</k></r>").constData());
        QVERIFY(y.enterElement("r", true));
        QVERIFY(!y.getText("k", &v));
    }

    // Every text is parsed from a copy that ends right before an
    // inaccessible page: a read past the padding kills the test.
    void paddedTextStopsTheParser_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("encoding");
        const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
        const QList<QByteArray> cuts = {"\xC3", "\xE2", "\xE2\x82", "\xF4", "\xF4\x8F", "\xF4\x8F\xBF", "\xEF\xBB"};
        const QList<QPair<const char *, QByteArray>> places = {{"text", declaration + "<a>"},
                                                               {"name", "<a><b"},
                                                               {"attribute", "<a b='"},
                                                               {"comment", "<a><!-- "},
                                                               {"first byte", ""}};
        const QList<QPair<const char *, int>> encodings = {{"utf-8", TIXML_ENCODING_UTF8},
                                                           {"unknown", TIXML_ENCODING_UNKNOWN}};
        for (const auto &e : encodings) {
            QTest::addRow("reply of 45 bytes, %s", e.first) << declaration + "<a>\xF4" << e.second;
            for (const auto &p : places) {
                for (const QByteArray &cut : cuts)
                    QTest::addRow("%s ends in %s, %s", p.first, cut.toHex(' ').constData(), e.first)
                        << p.second + cut << e.second;
            }
        }
    }

    void paddedTextStopsTheParser()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, encoding);
        const QByteArray padded = xmlbuffer::padded(text.constData(), text.size());
        QCOMPARE(padded.size(), text.size() + xmlbuffer::kPadding);
        QVERIFY(padded.startsWith(text));
        QCOMPARE(padded.mid(text.size()), QByteArray(xmlbuffer::kPadding, '\0'));

        testsupport::GuardedBytes guarded(padded.constData(), size_t(padded.size()));
        QVERIFY(guarded.data());
        TiXmlDocument doc;
        xmlbuffer::parsePadded(&doc, guarded.data(), TiXmlEncoding(encoding));
        QVERIFY(doc.Error());
    }
};

QTEST_APPLESS_MAIN(TestXml)
#include "tst_xml.moc"
