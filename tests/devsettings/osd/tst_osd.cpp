#include "app/core/pathsetting.h"
#include "devsetfixture.h"
#include "devsettings/qwdevsetosd.h"

#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>

using namespace devsetfixture;

namespace {

QByteArray item(const char *name, int active, int x, int y, const QByteArray &extra = {})
{
    return QByteArray("<") + name + "><osditem><active>" + QByteArray::number(active) + "</active><xpos>" +
           QByteArray::number(x) + "</xpos><ypos>" + QByteArray::number(y) + "</ypos></osditem>" + extra + "</" + name +
           ">";
}

QByteArray osd(const QByteArray &system, const QByteArray &datetime = item("datetime", 1, 600, 10))
{
    return "<response><osd>" + system + datetime + item("picture", 0, 10, 900) +
           item("custom", 1, 600, 900, "<ctext>Gate 1</ctext>") + "</osd></response>";
}

// The four positions of a body, in wire order, as "x/y".
QStringList positions(const QByteArray &body)
{
    QStringList out;
    int at = 0;
    while ((at = body.indexOf("<xpos>", at)) >= 0) {
        const int x = body.indexOf('<', at + 6);
        const int y = body.indexOf("<ypos>", at) + 6;
        out << QString::fromLatin1(body.mid(at + 6, x - at - 6) + "/" + body.mid(y, body.indexOf('<', y) - y));
        at = y;
    }
    return out;
}

} // namespace

class OsdTest : public QObject, public PageCase<qwDevsetOsd>
{
    Q_OBJECT

    // The page's queued calls: a drag sends only once the last set's result
    // has come back, so each wait includes that result.
    std::unique_ptr<Deliveries> m_results;
    int m_seen = 0;

    void load()
    {
        Deliveries deliveries(m_page.get());
        const int before = m_fx->count("GET", "osd");
        m_page->OnInitParameters(120);
        QVERIFY(m_fx->waitAnswered("GET", "osd", before + 1));
        QTRY_VERIFY(deliveries.count >= 1);
        m_seen = m_results->count;
    }
    void mouse(QEvent::Type type, const QPoint &p)
    {
        QMouseEvent event(type, p, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(w<QWidget>("widget_Overlay"), &event);
    }
    void drag(const QPoint &from, const QPoint &to)
    {
        mouse(QEvent::MouseButtonPress, from);
        mouse(QEvent::MouseMove, to);
        mouse(QEvent::MouseButtonRelease, to);
    }
    QByteArray waitPost(int n)
    {
        if (!m_fx->waitAnswered("POST", "osd", n))
            return {};
        (void)QTest::qWaitFor([&] { return m_results->count > m_seen; }, 5000);
        m_seen = m_results->count;
        return m_fx->requests("POST", "osd").at(n - 1).body;
    }
    QByteArray save(int n)
    {
        w<QPushButton>("pushButton_Save")->click();
        return waitPost(n);
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        QVERIFY(open());
        m_results = std::make_unique<Deliveries>(m_page.get());
        m_seen = 0;
        m_page->show();
    }
    void cleanup()
    {
        m_results.reset();
        close();
    }

    // Placed on the preview's scale; an untouched save sends what was read.
    void positions_data()
    {
        QTest::addColumn<int>("pos");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("0") << 0 << QPoint(0, 0);
        QTest::newRow("100") << 100 << QPoint(63, 34);
        QTest::newRow("500") << 500 << QPoint(317, 170);
        QTest::newRow("992") << 992 << QPoint(628, 337);
        QTest::newRow("1000") << 1000 << QPoint(628, 340);
    }
    void positions()
    {
        QFETCH(int, pos);
        QFETCH(QPoint, topLeft);
        m_fx->device().setSubject("osd", osd(item("system", 1, pos, pos)));
        load();
        QCOMPARE(m_page->itemRect(0).topLeft(), topLeft);
        QCOMPARE(m_page->itemRect(0).size(), QSize(93, 26));
        const QByteArray body = save(1);
        QCOMPARE(::positions(body), (QStringList{QStringLiteral("%1/%1").arg(pos), "600/10", "10/900", "600/900"}));
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setsuccess"});
    }

    void flags()
    {
        load();
        QVERIFY(w<QCheckBox>("checkBox_System")->isChecked());
        QVERIFY(!w<QCheckBox>("checkBox_Picture")->isChecked());
        QVERIFY(!w<QPushButton>("pushButton_Browse")->isEnabled());
        QVERIFY(w<QLineEdit>("lineEdit_Custom")->isEnabled());
        QCOMPARE(w<QLineEdit>("lineEdit_Custom")->text(), "Gate 1");
        w<QCheckBox>("checkBox_Custom")->click();
        QVERIFY(!w<QLineEdit>("lineEdit_Custom")->isEnabled());
        w<QCheckBox>("checkBox_Picture")->click();
        QVERIFY(w<QPushButton>("pushButton_Browse")->isEnabled());
        QVERIFY(!w<QPushButton>("pushButton_Upload")->isEnabled());
        w<QCheckBox>("checkBox_System")->click();
        w<QPushButton>("pushButton_Restore")->click();
        QVERIFY(w<QCheckBox>("checkBox_System")->isChecked());
        QVERIFY(!w<QCheckBox>("checkBox_Picture")->isChecked());
        QVERIFY(!w<QPushButton>("pushButton_Browse")->isEnabled());
        QCOMPARE(m_fx->count("POST", "osd"), 0);
        // Ten characters, not eleven.
        w<QLineEdit>("lineEdit_Custom")->clear();
        w<QLineEdit>("lineEdit_Custom")->setEnabled(true);
        QTest::keyClicks(w<QLineEdit>("lineEdit_Custom"), "abcdefghijk");
        QCOMPARE(w<QLineEdit>("lineEdit_Custom")->text(), "abcdefghij");
    }

    // A drag sends once without a tip and moves only the dragged item.
    void drags()
    {
        load();
        mouse(QEvent::MouseButtonPress, {300, 150}); // outside every frame
        mouse(QEvent::MouseMove, {320, 160});
        mouse(QEvent::MouseButtonRelease, {320, 160});
        mouse(QEvent::MouseButtonPress, {10, 10}); // a press without movement
        mouse(QEvent::MouseButtonRelease, {10, 10});
        QByteArray body = waitPost(1);
        QCOMPARE(::positions(body), (QStringList{"10/10", "600/10", "10/900", "600/900"}));
        drag({10, 10}, {60, 30});
        body = waitPost(2);
        QCOMPARE(m_page->itemRect(0).topLeft(), QPoint(56, 23));
        QCOMPARE(::positions(body), (QStringList{"88/67", "600/10", "10/900", "600/900"}));
        QCOMPARE(popupKeys(m_page.get()), QStringList{});
        // Leaving the band ends the drag at once.
        mouse(QEvent::MouseButtonPress, {60, 30});
        mouse(QEvent::MouseMove, {60, 2});
        waitPost(3);
        mouse(QEvent::MouseMove, {60, 50});
        QCOMPARE(m_page->itemRect(0).top(), -5);
        QCOMPARE(m_fx->count("POST", "osd"), 3);
        // Save, select again, save: nothing moves.
        const QByteArray first = save(4);
        load();
        QCOMPARE(save(5), first);
    }

    // Device coordinates stay on its scale, wherever the frame goes on screen.
    void clampedToTheScale()
    {
        m_fx->device().setSubject("osd", osd(item("system", 1, 10, 10), item("datetime", 1, 600, 1200)));
        load();
        drag({90, 10}, {10, 10});
        QCOMPARE(m_page->itemRect(0).left(), -74);
        QCOMPARE(::positions(waitPost(1)).at(0), "0/8");
        QCOMPARE(m_page->itemRect(1).top(), 408);
        drag({390, 410}, {391, 410});
        QCOMPARE(::positions(waitPost(2)).mid(0, 2), (QStringList{"0/8", "600/1000"}));
    }

    // Markup in the custom text arrives as text; other characters as UTF-8.
    void customText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("markup") << "a&b<c" << QByteArray("a&amp;b&lt;c");
        QTest::newRow("umlaut") << QString::fromUtf8("T\xc3\xbcr") << QByteArray("T\xc3\xbcr");
        QTest::newRow("placeholder") << "%1" << QByteArray("%1");
    }
    void customText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, sent);
        load();
        w<QLineEdit>("lineEdit_Custom")->setText(text);
        QVERIFY(save(1).contains("<ctext>" + sent + "</ctext></custom></osd></request>"));
        w<QLineEdit>("lineEdit_Custom")->clear();
        load();
        QTRY_COMPARE(w<QLineEdit>("lineEdit_Custom")->text(), text);
    }

    // An item without its own position keeps its place.
    void itemWithoutPosition()
    {
        m_fx->device().setSubject("osd", osd("<system><active>1</active></system>"));
        load();
        QCOMPARE(m_page->itemRect(0).topLeft(), QPoint(0, 0));
        QCOMPARE(m_page->itemRect(1).topLeft(), QPoint(380, 3));
    }

    void upload_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("vanished");
        QTest::addColumn<QString>("tip");
        QTest::newRow("200") << 200 << false << "tip_uploadsecc";
        QTest::newRow("500") << 500 << false << "tip_uploaderr";
        QTest::newRow("vanished") << 200 << true << "tip_uploaderr";
    }
    void upload()
    {
        QFETCH(int, status);
        QFETCH(bool, vanished);
        QFETCH(QString, tip);
        const QString logo = m_fx->folder().filePath("pictures/logo.jpg");
        QVERIFY(QDir().mkpath(m_fx->folder().filePath("pictures")));
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(logo, "JPG"));
        QString offered;
        qwDevsetOsd::setPictureChooser([&](QWidget *, const QString &folder) {
            offered = folder;
            return logo;
        });
        load();
        w<QCheckBox>("checkBox_Picture")->click();
        w<QPushButton>("pushButton_Browse")->click();
        QCOMPARE(w<QLineEdit>("lineEdit_Picture")->text(), logo);
        QVERIFY(w<QPushButton>("pushButton_Upload")->isEnabled());
        QCOMPARE(QDir(getPathSetting(PATH_NORMAL)), QDir(m_fx->folder().filePath("pictures")));
        if (status != 200)
            m_fx->device().addFault("/action/upload", Fault::status(status));
        if (vanished)
            QFile::remove(logo);
        QFile file(logo);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        w<QPushButton>("pushButton_Upload")->click();
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{tip});
        qwDevsetOsd::setPictureChooser({});
        // The preview's stream requests come and go beside the page's own.
        LoggedRequest last;
        for (const LoggedRequest &r : m_fx->device().requests())
            if (r.path == "/action/upload")
                last = r;
        if (vanished) {
            QVERIFY(last.path.isEmpty());
            return;
        }
        QCOMPARE(last.path + "?" + last.query, QByteArray("/action/upload?file=logo"));
        devicesim::FormPart part;
        if (status == 200) {
            QVERIFY(m_fx->device().upload("sendfile", &part));
            QCOMPARE(part.data, bytes);
        }
    }
};

QTEST_MAIN(OsdTest)
#include "tst_osd.moc"
