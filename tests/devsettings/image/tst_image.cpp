#include "devsetfixture.h"
#include "devsettings/qwdevsetimage.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>

#include "devsetpreviewcheck.h"

using namespace devsetfixture;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// The set body of the values in body order, the day/night text at %12.
QByteArray body(const QList<QByteArray> &v)
{
    const char *const names[] = {"freq",   "saturation", "sharpness", "contrast", "brightness",
                                 "mirror", "noise",      "ldc",       "defog",    "rotate"};
    QByteArray b = kDeclaration + "<request><videoimage ver=\"2.0\">";
    for (int i = 0; i < 10; ++i)
        b += QByteArray("<") + names[i] + ">" + v.at(i) + "</" + names[i] + ">";
    b += "<daynight><mode>" + v.at(10) + "</mode><tsection>" + v.at(11) + "</tsection><color>" + v.at(12) +
         "</color><grey>" + v.at(13) + "</grey></daynight><widedynamic><wdr>" + v.at(14) + "</wdr><backlight>" +
         v.at(15) + "</backlight></widedynamic><autoexposure><metter>" + v.at(16) + "</metter><shutter>" + v.at(17) +
         "</shutter><iris>" + v.at(18) + "</iris></autoexposure><whitebalance><mode>" + v.at(19) + "</mode><rgain>" +
         v.at(20) + "</rgain><ggain>" + v.at(21) + "</ggain><bgain>" + v.at(22) +
         "</bgain></whitebalance></videoimage></request>";
    return b;
}

// The shipped document's values.
QList<QByteArray> shipped()
{
    return {"0",  "50", "50", "50", "50", "0", "50", "0", "0",  "0",  "3", "21600-64800",
            "10", "0",  "0",  "0",  "0",  "6", "0",  "0", "50", "50", "50"};
}

QList<QByteArray> defaults()
{
    return {"0",  "50", "50", "50", "50", "0", "50", "0", "0",  "0",  "0", "0-0",
            "10", "0",  "0",  "0",  "0",  "6", "0",  "0", "50", "50", "50"};
}

} // namespace

class ImageTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> m_fx;
    std::unique_ptr<qwDevsetImage> m_page;

    template <class T = QComboBox>
    T *w(const char *name)
    {
        return child<T>(m_page.get(), name);
    }
    void load(bool answered = true)
    {
        Deliveries deliveries(m_page.get());
        const int before = m_fx->count("GET", "videoimage");
        m_page->OnInitParameters(119);
        QVERIFY(m_fx->waitAnswered("GET", "videoimage", before + 1));
        if (answered)
            QTRY_VERIFY(deliveries.count >= 1);
    }
    QList<QByteArray> posts()
    {
        QList<QByteArray> out;
        for (const LoggedRequest &r : m_fx->requests("POST", "videoimage"))
            out << r.body;
        return out;
    }
    void waitPosts(int n) { QVERIFY(m_fx->waitAnswered("POST", "videoimage", n)); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
        m_page = std::make_unique<qwDevsetImage>(nullptr);
        m_fx->login(*m_page);
        m_page->show();
    }
    void cleanup()
    {
        m_page.reset();
        m_fx.reset();
    }

    void replyToWidgets()
    {
        QByteArray doc = m_fx->device().subject("videoimage");
        doc.replace("<brightness>50</brightness>", "<brightness>150</brightness>");
        doc.replace("<freq>0</freq>", "<freq>2</freq>");
        doc.replace("<mode>3</mode>", "<mode>5</mode>");
        doc.replace("<rotate>0</rotate>", "");
        doc.replace("21600-64800", "3600-7200");
        m_fx->device().setSubject("videoimage", doc);
        load();
        QCOMPARE(w<QSlider>("slider_brightness")->value(), 100);
        QCOMPARE(w<QLabel>("label_brightnessValue")->text(), "150");
        // Values the lists lack are shown as they came, and sent back so.
        QCOMPARE(w("comboBox_videostd")->currentText(), "2");
        QCOMPARE(w("comboBox_daynight")->currentText(), "5");
        QVERIFY(!w("comboBox_corridormode")->isEnabled());
        QVERIFY(w<QTimeEdit>("timeEdit_period0")->isHidden());
        QCOMPARE(w<QTimeEdit>("timeEdit_period1")->time(), QTime(2, 0));
        w("comboBox_daynight")->setCurrentIndex(3);
        QVERIFY(!w<QTimeEdit>("timeEdit_period0")->isHidden());
        waitPosts(1);
        QList<QByteArray> v = shipped();
        v[0] = "2";
        v[4] = "150";
        v[9] = "-1"; // never read
        v[11] = "3600-7200";
        QCOMPARE(posts().at(0), body(v));

        for (const char *section : {"3600", "1-2-3"}) {
            m_fx->device().setSubject("videoimage", doc.replace("3600-7200", section));
            load();
            QCOMPARE(w<QTimeEdit>("timeEdit_period0")->time(), QTime(1, 0));
            doc.replace(section, "3600-7200");
        }
    }

    // A drag sends once, on release; a keyboard step sends at once.
    void sliderSends()
    {
        load();
        QSlider *slider = w<QSlider>("slider_saturation");
        slider->setValue(10);
        waitPosts(1);
        slider->setSliderDown(true);
        for (int v = 20; v <= 90; v += 10)
            slider->setValue(v);
        QCOMPARE(w<QLabel>("label_saturationValue")->text(), "90");
        slider->setSliderDown(false);
        waitPosts(2);
        QVERIFY(posts().at(1).contains("<saturation>90</saturation>"));
        slider->setSliderDown(true);
        slider->setSliderDown(false);
        waitPosts(3);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        waitPosts(4);
        QVERIFY(posts().at(3).contains("<saturation>91</saturation>"));
        QCOMPARE(m_fx->count("POST", "videoimage"), 4);
    }

    void whiteBalanceManual()
    {
        load();
        QVERIFY(w<QSlider>("slider_redgain")->isHidden());
        w("comboBox_whitebalance")->setCurrentIndex(4);
        QVERIFY(!w<QSlider>("slider_redgain")->isHidden());
        waitPosts(1);
        QList<QByteArray> v = shipped();
        v[19] = "4";
        QCOMPARE(posts().at(0), body(v));
        w("comboBox_whitebalance")->setCurrentIndex(1);
        QVERIFY(w<QSlider>("slider_bluegain")->isHidden());
    }

    void poolRing()
    {
        load();
        for (int i = 1; i <= 17; ++i) {
            w<QSlider>("slider_contrast")->setValue(i);
            waitPosts(i);
            QTRY_COMPARE(m_page->poolIndex(), (i - 1) % qwDevsetImage::kPoolSize);
            QVERIFY(m_fx->requests("POST", "videoimage")
                        .last()
                        .body.contains("<contrast>" + QByteArray::number(i) + "</contrast>"));
        }
    }

    void resetAndRestore()
    {
        load();
        w<QSlider>("slider_sharpness")->setValue(5);
        waitPosts(1);
        w("comboBox_shutter")->setCurrentIndex(2);
        waitPosts(2);
        QTRY_VERIFY(m_fx->requests("POST", "videoimage").last().answered);
        w<QPushButton>("pushButton_Reset")->click();
        waitPosts(3);
        QCOMPARE(posts().at(2), body(shipped()));
        QCOMPARE(w<QSlider>("slider_sharpness")->value(), 50);
        QCOMPARE(w("comboBox_shutter")->currentIndex(), 6);
        QTRY_VERIFY(m_fx->requests("POST", "videoimage").last().answered);
        w<QPushButton>("pushButton_Restore")->click();
        waitPosts(4);
        QCOMPARE(posts().at(3), body(defaults()));
    }

    // Before a reply, changes, reset and restore send nothing, even forced:
    // a device whose read failed keeps its own settings. Restore reads
    // again instead.
    void nothingBeforeAReply()
    {
        m_fx->device().addFault("get:videoimage", Fault::status(500));
        load(false);
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_readfailed"});
        QVERIFY(!w<QPushButton>("pushButton_Reset")->isEnabled());
        QVERIFY(w<QPushButton>("pushButton_Restore")->isEnabled());
        QVERIFY(!w<QSlider>("slider_brightness")->isEnabled());
        w<QSlider>("slider_brightness")->setValue(70);
        m_page->OnBtnReset();
        m_page->OnBtnRestoreDefault();
        QVERIFY(m_fx->waitAnswered("GET", "videoimage", 2));
        QTest::qWait(300);
        QCOMPARE(posts(), QList<QByteArray>());
    }

    // Changes while a set runs go out once, with the latest values.
    void changeDuringASet()
    {
        load();
        m_fx->device().addFault("set:videoimage", Fault::delay(1000));
        QSlider *slider = w<QSlider>("slider_brightness");
        slider->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(slider, Qt::Key_Right);
        waitPosts(2);
        QTRY_VERIFY(m_fx->requests("POST", "videoimage").last().answered);
        QCOMPARE(m_fx->count("POST", "videoimage"), 2);
        QVERIFY(posts().at(0).contains("<brightness>51</brightness>"));
        QVERIFY(posts().at(1).contains("<brightness>53</brightness>"));
    }

    // A set the request refused does not block the pool.
    void refusedSetFreesItsSlot()
    {
        load();
        m_page->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "");
        w<QSlider>("slider_brightness")->setValue(60);
        m_fx->login(*m_page);
        load();
        w<QSlider>("slider_brightness")->setValue(61);
        waitPosts(1);
        QVERIFY(posts().at(0).contains("<brightness>61</brightness>"));
    }

    // The live picture through Direct3D while the page is shown.
    void preview() { checkDirect3DPreview(*m_fx, m_page.get()); }
};

QTEST_MAIN(ImageTest)
#include "tst_image.moc"
