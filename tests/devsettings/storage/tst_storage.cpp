#include "app/widgets/qwwaittingdlg.h"
#include "devsetfixture.h"
#include "devsettings/qwdevsetstorage.h"

#include <QLabel>
#include <QPushButton>

using namespace devsetfixture;

namespace {

const qint64 kGiB = 1073741824;

QByteArray disk(int status, const QByteArray &size, const QByteArray &free)
{
    QByteArray xml = "<response><diskinfo>";
    if (status >= 0)
        xml += "<status>" + QByteArray::number(status) + "</status>";
    if (!size.isNull())
        xml += "<size>" + size + "</size>";
    if (!free.isNull())
        xml += "<free>" + free + "</free>";
    return xml + "</diskinfo></response>";
}

QByteArray gib(qint64 n)
{
    return QByteArray::number(n * kGiB);
}

QString storageText(const char *key)
{
    return langText(37, 123, key);
}

} // namespace

class StorageTest : public QObject, public PageCase<qwDevsetStorage>
{
    Q_OBJECT

    QLabel *label(const char *name) { return child<QLabel>(m_page.get(), name); }
    QPushButton *button(const char *name) { return child<QPushButton>(m_page.get(), name); }

    // Reads the disk and waits until the used legend shows what it should.
    void load(const QByteArray &xml)
    {
        m_fx->device().setSubject("diskinfo&id=0", xml);
        const int before = m_fx->count("GET", "diskinfo&id=0");
        m_page->OnInitParameters(122);
        QVERIFY(m_fx->waitAnswered("GET", "diskinfo&id=0", before + 1));
    }

    // The pie's colour at a point given in per cent of its size.
    QRgb pieAt(int xPercent, int yPercent)
    {
        const QImage img = child<QWidget>(m_page.get(), "widget_Pie")->grab().toImage();
        return img.pixel(img.width() * xPercent / 100, img.height() * yPercent / 100);
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        QVERIFY(open());
        m_page->resize(1140, 680);
    }
    void cleanup() { close(); }

    void status_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("usable");
        QTest::newRow("3 normal") << 3 << "snormal" << true;
        QTest::newRow("7 full") << 7 << "sfull" << true;
        QTest::newRow("11 abnormal") << 11 << "sabnormal" << true;
        QTest::newRow("15 full") << 15 << "sfull" << true;
        QTest::newRow("1 not installed") << 1 << "snotinstall" << false;
        QTest::newRow("0 not installed") << 0 << "snotinstall" << false;
    }

    void status()
    {
        QFETCH(int, status);
        QFETCH(QString, state);
        QFETCH(bool, usable);
        load(disk(status, gib(10), gib(5)));
        QTRY_COMPARE(label("label_DiskStatus")->text(), storageText(state.toLatin1()));
        QCOMPARE(label("label_DiskFormatted")->text(), langText(33, 48, usable ? "syes" : "sno"));
        QCOMPARE(button("pushButton_Refresh")->isEnabled(), usable);
        QCOMPARE(button("pushButton_Format")->isEnabled(), usable);
        m_page->OnBtnFormatClicked();
        QCOMPARE(m_fx->waitAnswered("POST", "diskfmt", 1, usable ? 5000 : 300), usable);
        // Not ready: selecting again still reads anew.
        m_page->OnInitParameters(122);
        QVERIFY(m_fx->waitAnswered("GET", "diskinfo&id=0", 2));
    }

    void usage_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<QByteArray>("free");
        QTest::addColumn<QStringList>("legends"); // used, free
        QTest::addColumn<int>("angle");
        QTest::newRow("size 0") << QByteArray("0") << gib(5) << QStringList{"0GB(0%)", "0GB(0%)"} << 0;
        QTest::newRow("no size") << QByteArray() << gib(5) << QStringList{"0GB(0%)", "0GB(0%)"} << 0;
        QTest::newRow("half") << gib(1000) << gib(500) << QStringList{"500.000GB(50%)", "500.000GB(50%)"} << 180;
        QTest::newRow("free above size") << gib(1000) << gib(1500) << QStringList{"0.000GB(0%)", "1000.000GB(100%)"}
                                         << 0;
        QTest::newRow("free 0") << gib(1000) << QByteArray("0") << QStringList{"1000.000GB(100%)", "0.000GB(0%)"}
                                << 360;
    }

    void usage()
    {
        QFETCH(QByteArray, size);
        QFETCH(QByteArray, free);
        QFETCH(QStringList, legends);
        QFETCH(int, angle);
        load(disk(3, size, free));
        QTRY_COMPARE(label("label_Used")->text(), legends[0] + storageText("spused"));
        QCOMPARE(label("label_Free")->text(), legends[1] + storageText("spunused"));
        QCOMPARE(m_page->pieAngle(), angle);
        const QColor whole = angle == 360 ? QColor(205, 102, 29) : QColor(80, 137, 203);
        for (int x : {20, 80})
            QCOMPARE(pieAt(x, 60), whole.rgb());
    }

    // A disk that becomes empty turns the pie blue again.
    void emptiedDiskRepaints()
    {
        load(disk(3, gib(1000), gib(500)));
        QTRY_COMPARE(m_page->pieAngle(), 180);
        load(disk(3, gib(1000), gib(1000)));
        QTRY_COMPARE(label("label_Used")->text(), "0.000GB(0%)" + storageText("spused"));
        QCOMPARE(pieAt(50, 25), QColor(80, 137, 203).rgb());
    }

    void format()
    {
        m_page->OnBtnFormatClicked(); // no reply yet: not ready
        load(disk(3, gib(1000), gib(500)));
        QTRY_VERIFY(button("pushButton_Format")->isEnabled() && !label("label_DiskStatus")->text().isEmpty());
        QCOMPARE(m_fx->count("POST", "diskfmt"), 0);

        m_fx->device().addFault("set:diskfmt", Fault::delay(1000), 1);
        m_page->OnBtnFormatClicked();
        QVERIFY(m_page->findChild<qwWaittingDlg *>());
        QVERIFY(m_fx->waitAnswered("POST", "diskfmt", 1));
        QCOMPARE(m_fx->requests("POST", "diskfmt").at(0).body,
                 QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                            "<request><diskfmt><disk>0</disk><fmt>0</fmt></diskfmt></request>"));
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_fmtsecc"});
        QTRY_COMPARE(label("label_Used")->text(), "0.000GB(0%)" + storageText("spused"));
        QCOMPARE(m_fx->count("GET", "diskinfo&id=0"), 2);

        m_fx->device().addFault("set:diskfmt", Fault::status(500), 1);
        m_page->OnBtnFormatClicked();
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_fmterr"});
        QCOMPARE(m_fx->count("GET", "diskinfo&id=0"), 2);
    }
};

QTEST_MAIN(StorageTest)
#include "tst_storage.moc"
