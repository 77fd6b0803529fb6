#include "devsetfixture.h"
#include "devsettings/qwdevsetimageex.h"
#include "devsettings/qwlabelex.h"
#include "platform/widgets/qrangeslider.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>

#include "devsetpreviewcheck.h"

using namespace devsetfixture;
using F = ImageScene_t;

class ImageExTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> m_fx;
    std::unique_ptr<qwDevsetImageEx> m_page;

    template <class T = QComboBox>
    T *w(const char *name)
    {
        return child<T>(m_page.get(), name);
    }
    QByteArray shipped() { return m_fx->device().subject("cameraimage"); }
    QStringList m_tips;

    void load(const QByteArray &doc = {}, bool replied = true)
    {
        if (!doc.isNull())
            m_fx->device().setSubject("cameraimage", doc);
        Deliveries deliveries(m_page.get());
        const int before = m_fx->count("GET", "cameraimage");
        m_page->OnInitParameters(119);
        QVERIFY(m_fx->waitAnswered("GET", "cameraimage", before + 1));
        if (replied)
            QTRY_VERIFY(deliveries.count >= 1);
    }
    // The body sent; the tips its result showed are in m_tips.
    QByteArray save()
    {
        const int before = m_fx->count("POST", "cameraimage");
        w<QPushButton>("pushButton_Save")->click();
        if (!m_fx->waitAnswered("POST", "cameraimage", before + 1))
            return {};
        (void)QTest::qWaitFor([&] { return tipShown(m_page.get()); }, 5000);
        m_tips = popupKeys(m_page.get());
        return m_fx->requests("POST", "cameraimage").last().body;
    }
    quint64 range(const char *name) { return w<QRangeSlider>(name)->GetValue(); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_page = std::make_unique<qwDevsetImageEx>(nullptr);
        m_fx->login(*m_page);
    }
    void cleanup()
    {
        m_page.reset();
        m_fx.reset();
    }

    void daysect_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<quint64>("shown");
        QTest::addColumn<QByteArray>("back");
        const quint64 initial = quint64(300) << 32 | 700;
        QTest::newRow("18000-42000") << QByteArray("18000-42000") << initial << QByteArray("18000-42000");
        QTest::newRow("90-150") << QByteArray("90-150") << (quint64(1) << 32 | 2) << QByteArray("60-120");
        QTest::newRow("0-86400") << QByteArray("0-86400") << quint64(1440) << QByteArray("0-86400");
        for (const char *refused : {"3600-3600", "0-0", "86400-86400", "100", "1-2-3"})
            QTest::newRow(refused) << QByteArray(refused) << initial << QByteArray("18000-42000");
    }
    void daysect()
    {
        QFETCH(QByteArray, sent);
        QFETCH(quint64, shown);
        QFETCH(QByteArray, back);
        load(shipped().replace("<daysect>18000-42000</daysect>", "<daysect>" + sent + "</daysect>"));
        QCOMPARE(range("rangeSlider_Scene"), shown);
        QVERIFY(save().contains("<mode>3</mode>    <daysect>" + back + "</daysect>    <imagescene>"));
    }

    // The shipped reply, sent back byte for byte in the set's layout.
    void body()
    {
        load();
        QCOMPARE(m_page->scene(2).f[F::Saturation], quint8(70));
        QCOMPARE(m_page->scene(1).f[F::Valid], quint8(1));
        QCOMPARE(w<QSlider>("slider_saturation")->value(), 50);
        const QByteArray body = save();
        QVERIFY(body.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?><request><cameraimage ver=\"2.0\">    "
                                "<freq>0</freq>    <rotate>0</rotate>    <mirror>0</mirror>    <mode>3</mode>"));
        QVERIFY(body.contains("<imagescene>        <imgstyle>2</imgstyle>        <saturation>70</saturation>"));
        QVERIFY(body.endsWith("</imagescene>    <daynight>        <mode>3</mode>        <irled>0</irled>        "
                              "<daysect>21600-64800</daysect>        <color>10</color>        <grey>5</grey>    "
                              "</daynight></cameraimage></request>"));
        QCOMPARE(m_tips, QStringList{"tip_setsuccess"});
        // What the device stored reads back the same.
        std::array<ImageScene_t, 3> before{m_page->scene(0), m_page->scene(1), m_page->scene(2)};
        load();
        for (int k = 0; k < 3; ++k)
            QCOMPARE(m_page->scene(k).f, before[size_t(k)].f);
        m_fx->device().addFault("set:cameraimage", Fault::status(500));
        save();
        QCOMPARE(m_tips, QStringList{"tip_setfailed"});
    }

    // A value a list lacks is shown as it came and sent back so: a list of
    // the page, of the day/night group and of the scenes.
    void valueTheListLacks_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("list");
        QTest::newRow("frequency 2") << "freq"
                                     << "comboBox_videostd";
        QTest::newRow("infrared 5") << "irled"
                                    << "comboBox_supplementled";
        QTest::newRow("style 9") << "imgstyle"
                                 << "comboBox_imgprofile";
    }
    void valueTheListLacks()
    {
        QFETCH(QString, element);
        QFETCH(QString, list);
        const QString value = element == "freq" ? "2" : element == "irled" ? "5" : "9";
        const QString tag = QStringLiteral("<%1>%2</%1>");
        load(QString::fromUtf8(shipped())
                 .replace(QRegularExpression(tag.arg(element, "[0-9]+")), tag.arg(element, value))
                 .toUtf8());
        QCOMPARE(w(qPrintable(list))->currentText(), value);
        const QByteArray body = save();
        QCOMPARE(body.count(tag.arg(element, value).toUtf8()), shipped().count("<" + element.toUtf8() + ">"));
    }

    // Two scenes fill two records; a scene without its groups is not valid
    // and does not take the next one's.
    void scenes()
    {
        QByteArray doc = shipped();
        const int third = doc.lastIndexOf("<imagescene>");
        doc.remove(third, doc.indexOf("</imagescene>", third) + 13 - third);
        doc.replace("<dnr2d>1</dnr2d>", "");
        const int first = doc.indexOf("<widedynamic>");
        doc.replace(first, 13, "<wide>");
        doc.replace(doc.indexOf("</widedynamic>"), 14, "</wide>");
        load(doc);
        QCOMPARE(m_page->scene(0).f[F::Valid], quint8(0));
        QCOMPARE(m_page->scene(0).f[F::Wdr], quint8(0)); // not the day scene's 1
        QCOMPARE(m_page->scene(1).f[F::Valid], quint8(1));
        QCOMPARE(m_page->scene(1).f[F::Dnr2d], quint8(1));
        QCOMPARE(m_page->scene(2).f[F::Saturation], quint8(0));
        // The normal scene is shown and not valid: its widgets (all zero) go
        // into it; the night scene goes as held.
        const QByteArray body = save();
        QCOMPARE(body.count("<saturation>0</saturation>"), 2);
        QCOMPARE(body.count("<dnr2d>1</dnr2d>"), 2);
    }

    // Edits stay with their scene; Save stores only the scene shown.
    void sceneSwitching()
    {
        load();
        w<QSlider>("slider_ldc")->setValue(33);
        w("comboBox_imgtemplate")->setCurrentIndex(2);
        QCOMPARE(w<QSlider>("slider_ldc")->value(), 0);
        w<QSlider>("slider_ldc")->setValue(44);
        w("comboBox_imgtemplate")->setCurrentIndex(0);
        QCOMPARE(w<QSlider>("slider_ldc")->value(), 33);
        w("comboBox_imgtemplate")->setCurrentIndex(1);
        w<QSlider>("slider_s3dnr")->setValue(99);
        save();
        QCOMPARE(m_page->scene(0).f[F::Ldc], quint8(33));
        QCOMPARE(m_page->scene(1).f[F::Noise], quint8(99));
        QCOMPARE(m_page->scene(2).f[F::Ldc], quint8(44));
        QCOMPARE(m_page->scene(2).f[F::Noise], quint8(50));
    }

    void thresholds_data()
    {
        QTest::addColumn<int>("colour");
        QTest::addColumn<int>("grey");
        QTest::addColumn<bool>("greyLast");
        QTest::addColumn<int>("colourAfter");
        QTest::addColumn<int>("greyAfter");
        QTest::newRow("grey 60 over colour 50") << 50 << 60 << true << 61 << 60;
        QTest::newRow("colour 5 under grey 7") << 5 << 7 << false << 5 << 4;
    }
    void thresholds()
    {
        QFETCH(int, colour);
        QFETCH(int, grey);
        QFETCH(bool, greyLast);
        QFETCH(int, colourAfter);
        QFETCH(int, greyAfter);
        QSlider *c = w<QSlider>("slider_bwtocolor");
        QSlider *g = w<QSlider>("slider_colortobw");
        if (greyLast) {
            c->setValue(colour);
            g->setValue(grey);
        } else {
            g->setValue(grey);
            c->setValue(colour);
        }
        QCOMPARE(c->value(), colourAfter);
        QCOMPARE(g->value(), greyAfter);
        QCOMPARE(w<QLabel>("label_bwtocolorValue")->text(), QString::number(colourAfter));
    }
    void thresholdReplies()
    {
        const QByteArray doc = shipped();
        load(QByteArray(doc)
                 .replace("<color>10</color>", "<color>30</color>")
                 .replace("<grey>5</grey>", "<grey>40</grey>"));
        QVERIFY(save().contains("<color>41</color>        <grey>40</grey>"));
        load(QByteArray(doc)
                 .replace("<color>10</color>", "<color>0</color>")
                 .replace("<grey>5</grey>", "<grey>0</grey>"));
        const QByteArray body = save();
        QVERIFY2(body.contains("<color>1</color>        <grey>0</grey>"), body.right(120).constData());
    }

    void groupsAndAccordion()
    {
        m_page->show();
        QVERIFY(w<QWidget>("widget_imgadjust")->isVisible());
        QVERIFY(!w<QWidget>("widget_expsettings")->isVisible());
        w<qwLabelEx>("label_expsettings")->setFocus();
        QTest::mouseClick(w<qwLabelEx>("label_expsettingsIcon"), Qt::LeftButton);
        QVERIFY(w<QWidget>("widget_expsettings")->isVisible());
        QVERIFY(!w<QWidget>("widget_imgadjust")->isVisible());
        QTest::mouseClick(w<qwLabelEx>("label_expsettings"), Qt::LeftButton);
        QVERIFY(w<QWidget>("widget_expsettings")->isVisible());
        QTest::mouseClick(w<qwLabelEx>("label_imgadjust"), Qt::LeftButton);
        QVERIFY(!w<QSlider>("slider_saturation")->isVisible());
        w("comboBox_imgprofile")->setCurrentIndex(4);
        QVERIFY(w<QSlider>("slider_saturation")->isVisible());
        QVERIFY(!w<QSlider>("slider_redgain")->isVisible());
        w("comboBox_whitebalance")->setCurrentIndex(4);
        QVERIFY(w<QSlider>("slider_redgain")->isVisible());
        m_page->hide();
        auto *label = w<qwLabelEx>("label_imgadjust");
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        QSignalSpy clicks(label, &qwLabelEx::sigClick);
        QTest::mousePress(label, Qt::RightButton);
        QCOMPARE(clicks.size(), 1);
    }

    // Restore per tab; on the first tab all three scenes end restored,
    // whichever was shown.
    void restore()
    {
        load();
        auto *tabs = w<QTabWidget>("tabWidget_Image");
        w("comboBox_imgtemplate")->setCurrentIndex(2);
        w<QSlider>("slider_ldc")->setValue(77);
        w<QPushButton>("pushButton_Restore")->click();
        QCOMPARE(w("comboBox_imgtemplate")->currentIndex(), 0);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(m_page->scene(k).f[F::Ldc], quint8(0));
            QCOMPARE(m_page->scene(k).f[F::Shutter], quint8(4));
            QCOMPARE(m_page->scene(k).f[F::Saturation], quint8(50));
        }
        tabs->setCurrentIndex(1);
        w<QPushButton>("pushButton_Restore")->click();
        QCOMPARE(range("rangeSlider_Scene"), quint64(360) << 32 | 1080);
        QCOMPARE(w("comboBox_imgconf")->currentIndex(), 0);
        tabs->setCurrentIndex(2);
        w<QSlider>("slider_bwtocolor")->setValue(3);
        w<QPushButton>("pushButton_Restore")->click();
        QCOMPARE(w<QSlider>("slider_bwtocolor")->value(), 10);
        QCOMPARE(w<QSlider>("slider_colortobw")->value(), 5);
        QCOMPARE(range("rangeSlider_Daynight"), quint64(360) << 32 | 1080);
        const QByteArray body = save();
        QCOMPARE(body.count("<ldc>0</ldc>"), 3);
    }

    void saveBeforeARead()
    {
        m_fx->device().addFault("get:cameraimage", Fault::status(500));
        load({}, false);
        QTRY_VERIFY(tipShown(m_page.get()));
        w<QPushButton>("pushButton_Save")->click();
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_readfailed"});
        QCOMPARE(m_fx->count("POST", "cameraimage"), 0);
        m_fx->device().clearFaults();
        load();
        QVERIFY(!save().isEmpty());
    }

    void rangeSlider()
    {
        QRangeSlider s;
        QVERIFY(s.SetRange(0, 1440));
        QVERIFY(s.SetValue(300, 700));
        QCOMPARE(s.GetValue(), quint64(300) << 32 | 700);
        for (auto refused : {std::make_pair(700ul, 300ul), std::make_pair(5ul, 5ul), std::make_pair(0ul, 1441ul)})
            QVERIFY(!s.SetValue(refused.first, refused.second));
        QCOMPARE(s.GetValue(), quint64(300) << 32 | 700);
        QVERIFY(!s.SetRange(10, 10));
        QVERIFY(s.SetRange(400, 600));
        QCOMPARE(s.GetValue(), quint64(400) << 32 | 600);
        // A drag stops one step before the other handle.
        QVERIFY(s.SetRange(0, 100));
        QVERIFY(s.SetValue(20, 60));
        s.resize(116, 22);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QTest::mousePress(&s, Qt::LeftButton, {}, QPoint(8 + 20, 11));
        QMouseEvent move(QEvent::MouseMove, QPoint(8 + 90, 11), Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&s, &move);
        QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(8 + 90, 11));
        QCOMPARE(s.GetValue(), quint64(59) << 32 | 60);
        s.SetStyleSheet("QRangeSlider::add-page:horizontal{background-color:#00ff00;}");
        QVERIFY(s.SetValue(20, 60));
        const QImage img = s.grab().toImage();
        QCOMPARE(QColor(img.pixel(8 + 40, 11)).name(), QString("#00ff00"));
        QCOMPARE(QColor(img.pixel(8 + 80, 11)).name(), QString("#575757"));
    }

    // The live picture through Direct3D while the page is shown.
    void preview() { checkDirect3DPreview(*m_fx, m_page.get()); }
};

QTEST_MAIN(ImageExTest)
#include "tst_imageex.moc"
