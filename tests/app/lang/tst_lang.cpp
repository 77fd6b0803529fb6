#include <QtTest>

#include "app/core/qclanguagexml.h"
#include "app/core/xmlbuffer.h"
#include "tests/support/runfolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kTable = QStringLiteral(ARDO_SOURCE_DIR "/resources/lang/texts.tsv");
const QString kGenerator = QStringLiteral(ARDO_SOURCE_DIR "/resources/lang/make_langfile.py");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Replaces the run folder's language file and loads it.
bool loadDocument(qcLanguageXml &lang, const QByteArray &xml)
{
    return writeFile(qcLanguageXml::kFileName, xml) && lang.load() == xml.size();
}

struct Row
{
    int page;
    int section;
    QString key;
    QString text;
};

// The shipped texts, one row per key the file holds.
QList<Row> tableRows()
{
    QList<Row> rows;
    QFile table(kTable);
    if (!table.open(QIODevice::ReadOnly))
        return rows;
    while (!table.atEnd()) {
        const QString line = QString::fromUtf8(table.readLine()).remove('\n');
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList f = line.split('\t');
        rows.append({f.value(0).toInt(), f.value(1).toInt(), f.value(2), f.value(3)});
    }
    return rows;
}

// load() on a thread of its own: a load that waits for a pipe's writer is
// let go by one that opens and closes the writing end, so that the test
// fails instead of hanging.
int loadWithoutHanging(qcLanguageXml &lang)
{
    std::atomic<int> result{-1};
    QScopedPointer<QThread> loader(QThread::create([&] { result = lang.load(); }));
    loader->start();
    if (!QTest::qWaitFor([&] { return loader->isFinished(); }, 10000)) {
        const int writer = ::open(qcLanguageXml::kFileName, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
        loader->wait();
        return -2;
    }
    return result;
}

struct Generated
{
    int exitCode;
    QByteArray errors;
};

Generated generate(const QByteArray &table, const QString &output)
{
    writeFile("table.tsv", table);
    QProcess p;
    p.start(QStringLiteral(PYTHON3_EXECUTABLE), {kGenerator, "table.tsv", output});
    if (!p.waitForFinished(30000))
        return {-1, "generator did not finish"};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError()};
}

} // namespace

class TestLang : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_run.reset(new testsupport::RunFolder);
        QVERIFY(m_run->isValid());
    }
    void cleanup() { m_run.reset(); }

    void everyTableRowResolves()
    {
        qcLanguageXml lang;
        QVERIFY(lang.load() > 0);
        QFile table(kTable);
        QVERIFY(table.open(QIODevice::ReadOnly));
        int rows = 0;
        QSet<QString> seen;
        while (!table.atEnd()) {
            const QString line = QString::fromUtf8(table.readLine()).remove('\n');
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QStringList f = line.split('\t');
            QCOMPARE(f.size(), 4);
            const int page = f[0].toInt();
            const int section = f[1].toInt();
            QVERIFY2(!seen.contains(f[0] + f[1] + f[2]), qPrintable(line));
            seen.insert(f[0] + f[1] + f[2]);
            QCOMPARE(lang.getLangText(page, section, f[2]), f[3]);
            ++rows;
        }
        QVERIFY(rows > 600);
    }

    // A lookup of every shipped key gives its text and reads no document:
    // the file was parsed once, by the load.
    void shippedKeysAreParsedOnce()
    {
        qcLanguageXml lang;
        const quint64 before = xmlbuffer::parseCount();
        QVERIFY(lang.load() > 0);
        const quint64 loaded = xmlbuffer::parseCount();
        QVERIFY(loaded - before <= 1);
        const QList<Row> rows = tableRows();
        QVERIFY(rows.size() > 600);
        for (const Row &row : rows)
            QCOMPARE(lang.getLangText(row.page, row.section, row.key), row.text);
        QCOMPARE(xmlbuffer::parseCount(), loaded);
    }

    // Files the texts cannot come from are refused as a missing one is,
    // and a named pipe is not waited on.
    void unusableFilesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << "file" << QByteArray("this is not a language file\n\x01\x02\xff");
        QTest::newRow("binary") << "file" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
        QTest::newRow("cut short") << "file" << QByteArray("<language><commonpage><saveopt>Save</saveopt>");
        QTest::newRow("declaration only") << "file" << QByteArray("<?xml version=\"1.0\"?>\n");
        QTest::newRow("named pipe") << "pipe" << QByteArray();
        QTest::newRow("folder") << "folder" << QByteArray();
    }
    void unusableFilesAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        qcLanguageXml lang;
        QVERIFY(lang.load() > 0);
        QVERIFY(!lang.getLangText(33, 48, "saveopt").isEmpty());
        QVERIFY(QFile::remove(qcLanguageXml::kFileName));
        if (kind == "pipe")
            QCOMPARE(::mkfifo(qcLanguageXml::kFileName, 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(qcLanguageXml::kFileName));
        else
            QVERIFY(writeFile(qcLanguageXml::kFileName, bytes));
        QCOMPARE(loadWithoutHanging(lang), 0);
        // Nothing of the earlier file stays behind a refused load.
        QCOMPARE(lang.getLangText(33, 48, "saveopt"), QString());
    }

    // Where a key stands decides which element gives its text; the table
    // gives what the walk of the document gives.
    void keySearchOrder_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<int>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("first wins, empty or not")
            << QByteArray("<l><tipsinfos><k/><k>late</k></tipsinfos></l>") << 48 << "k"
            << "";
        QTest::newRow("nested before direct")
            << QByteArray("<l><tipsinfos><s><t><k>deep</k></t></s><k>direct</k></tipsinfos></l>") << 48 << "k"
            << "deep";
        QTest::newRow("no look past a leading text")
            << QByteArray("<l><tipsinfos><a>text<k>inner</k></a></tipsinfos></l>") << 48 << "k"
            << "";
        QTest::newRow("element before the text")
            << QByteArray("<l><tipsinfos><k><x/>t</k></tipsinfos></l>") << 48 << "k"
            << "";
        QTest::newRow("container found by its name")
            << QByteArray("<l><tipsinfos><s><k>x</k></s></tipsinfos></l>") << 48 << "s"
            << "";
        QTest::newRow("too long a text") << QByteArray("<l><tipsinfos><k>" + QByteArray(1024, 'x') +
                                                       "</k><k>short</k></tipsinfos></l>")
                                         << 48 << "k"
                                         << "";
        QTest::newRow("longest text") << QByteArray("<l><tipsinfos><k>" + QByteArray(1023, 'x') +
                                                    "</k></tipsinfos></l>")
                                      << 48 << "k" << QString(1023, 'x');
        QTest::newRow("entities and blanks")
            << QByteArray("<l><tipsinfos><k> a &amp;  b </k></tipsinfos></l>") << 48 << "k"
            << " a &  b ";
        QTest::newRow("first page of two") << QByteArray("<l><a><tipsinfos><k>1</k></tipsinfos></a>"
                                                         "<tipsinfos><k>2</k></tipsinfos></l>")
                                           << 48 << "k"
                                           << "1";
        QTest::newRow("section outside its page")
            << QByteArray("<l><alarmlist><k>out</k></alarmlist><previewpage/></l>") << 65 << "k"
            << "out";
        QTest::newRow("key ends at a zero")
            << QByteArray("<l><previewpage><k>z</k></previewpage></l>") << 48 << QString::fromLatin1("k\0x", 3) << "z";
    }
    void keySearchOrder()
    {
        QFETCH(QByteArray, xml);
        QFETCH(int, section);
        QFETCH(QString, key);
        QFETCH(QString, text);
        qcLanguageXml lang;
        QVERIFY(loadDocument(lang, xml));
        const int page = xml.contains("tipsinfos") ? 38 : 34;
        QCOMPARE(lang.getLangText(page, section, key), text);
    }

    // Keys the pages ask for, whether or not a page of this version shows
    // them: a language file made for the program holds every one.
    void fileHoldsKeys_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("invalid period") << 38 << "invperiod"
                                        << "Invalid period";
        QTest::newRow("start after end") << 38 << "starendtime"
                                         << "The start time must be before the end time";
        QTest::newRow("database error") << 38 << "databaseerr"
                                        << "Database error";
        QTest::newRow("stream by view size") << 36 << "autostream"
                                             << "Main stream in large views, sub stream in small ones";
    }
    void fileHoldsKeys()
    {
        QFETCH(int, page);
        QFETCH(QString, key);
        QFETCH(QString, text);
        qcLanguageXml lang;
        QVERIFY(lang.load() > 0);
        QCOMPARE(lang.getLangText(page, 48, key), text);
    }

    void pageOutsideRangeGivesEmpty()
    {
        qcLanguageXml lang;
        QVERIFY(loadDocument(lang, "<l><commonpage><k>x</k></commonpage></l>"));
        QCOMPARE(lang.getLangText(33, 48, "k"), QString("x"));
        QCOMPARE(lang.getLangText(0, 48, "k"), QString());
        QCOMPARE(lang.getLangText(39, 48, "k"), QString());
        QCOMPARE(lang.getLangText(33, 48, ""), QString());
        QCOMPARE(lang.getLangText(34, 48, "k"), QString()); // page missing
    }

    void weekdaysOnlyInsideOrAfterCommonPage()
    {
        qcLanguageXml lang;
        QVERIFY(loadDocument(lang, "<l><weekdays><monday>before</monday></weekdays>"
                                   "<monthitems><may>May</may></monthitems>"
                                   "<commonpage><k>x</k></commonpage></l>"));
        QCOMPARE(lang.getLangText(33, 49, "monday"), QString());
        QCOMPARE(lang.getLangText(33, 50, "may"), QString("May")); // from the root, anywhere

        QVERIFY(loadDocument(lang, "<l><commonpage><k>x</k></commonpage>"
                                   "<weekdays><monday>after</monday></weekdays></l>"));
        QCOMPARE(lang.getLangText(33, 49, "monday"), QString("after"));

        QVERIFY(loadDocument(lang, "<l><weekdays><monday>before</monday></weekdays>"
                                   "<commonpage><weekdays><monday>inside</monday></weekdays></commonpage></l>"));
        QCOMPARE(lang.getLangText(33, 49, "monday"), QString("inside"));
    }

    void sectionRules()
    {
        qcLanguageXml lang;
        QVERIFY(loadDocument(lang,
                             "<l><previewpage><direct>d</direct><deviceadd><inner>i</inner></deviceadd></previewpage>"
                             "<tipsinfos><tip>t</tip><alarmlist><x>y</x></alarmlist></tipsinfos></l>"));
        // A listed section that is missing gives "" even though the page holds the key.
        QCOMPARE(lang.getLangText(34, 65, "direct"), QString());
        // Direct lookups see keys inside the page's sections as well.
        QCOMPARE(lang.getLangText(34, 48, "inner"), QString("i"));
        QCOMPARE(lang.getLangText(34, 66, "inner"), QString("i"));
        // An unlisted section id behaves as a direct lookup.
        QCOMPARE(lang.getLangText(34, 99, "direct"), QString("d"));
        // The tips page ignores the section id.
        QCOMPARE(lang.getLangText(38, 48, "tip"), QString("t"));
        QCOMPARE(lang.getLangText(38, 65, "tip"), QString("t"));
        QCOMPARE(lang.getLangText(38, 113, "tip"), QString("t"));
    }

    void generatorPutsDirectKeysFirst()
    {
        // A direct key named like a key of a section later in the page must
        // still win a direct lookup: the generator writes direct keys first.
        const auto g = generate("37\t113\tshared\tin section\n37\t48\tshared\tdirect\n", "gen/lang.xml");
        QCOMPARE(g.exitCode, 0);
        QFile out("gen/lang.xml");
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray xml = out.readAll();
        QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<language>\n"));
        qcLanguageXml lang;
        QVERIFY(loadDocument(lang, xml));
        QCOMPARE(lang.getLangText(37, 48, "shared"), QString("direct"));
        QCOMPARE(lang.getLangText(37, 113, "shared"), QString("in section"));
    }

    void generatorEscapesTexts()
    {
        const QString text = QString::fromUtf8("<b> & \"q\" 'é' 東京  two blanks");
        QCOMPARE(generate("38\t48\tmsg\t" + text.toUtf8() + "\n", "gen/lang.xml").exitCode, 0);
        QFile out("gen/lang.xml");
        QVERIFY(out.open(QIODevice::ReadOnly));
        qcLanguageXml lang;
        QVERIFY(loadDocument(lang, out.readAll()));
        QCOMPARE(lang.getLangText(38, 48, "msg"), text);
    }

    void generatorRefusesBadTables_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("duplicate") << QByteArray("33\t48\tok\tOK\n33\t48\tok\tAgain\n") << QByteArray("duplicate");
        QTest::newRow("key named like a section") << QByteArray("34\t48\tdeviceadd\tAdd\n") << QByteArray("named like");
        QTest::newRow("key named like a page") << QByteArray("38\t48\tcommonpage\tX\n") << QByteArray("named like");
        QTest::newRow("section of another page") << QByteArray("33\t65\tk\tX\n") << QByteArray("not a section");
        QTest::newRow("section on the tips page") << QByteArray("38\t49\tk\tX\n") << QByteArray("not a section");
        QTest::newRow("unknown page") << QByteArray("39\t48\tk\tX\n") << QByteArray("unknown page");
        QTest::newRow("empty text") << QByteArray("33\t48\tk\t\n") << QByteArray("empty text");
        QTest::newRow("text too long") << QByteArray("33\t48\tk\t" + QByteArray(1024, 'x') + "\n")
                                       << QByteArray("longer");
        QTest::newRow("missing column") << QByteArray("33\t48\tk\n") << QByteArray("tabs");
        QTest::newRow("bad key") << QByteArray("33\t48\tNot A Key\tX\n") << QByteArray("lowercase");
        QTest::newRow("not utf-8") << QByteArray("33\t48\tk\t\xe9t\xe9\n") << QByteArray("cannot read");
    }

    void generatorRefusesBadTables()
    {
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, reason);
        const auto g = generate(table, "gen/lang.xml");
        QCOMPARE(g.exitCode, 1);
        QVERIFY2(g.errors.contains(reason), g.errors.constData());
        QVERIFY(!QFile::exists("gen/lang.xml"));
        // A table at the limit is accepted.
        QCOMPARE(generate("33\t48\tk\t" + QByteArray(1023, 'x') + "\n", "gen/lang.xml").exitCode, 0);
    }

private:
    std::unique_ptr<testsupport::RunFolder> m_run;
};

QTEST_GUILESS_MAIN(TestLang)
#include "tst_lang.moc"
