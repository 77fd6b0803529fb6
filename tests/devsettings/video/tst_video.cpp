#include "devsetfixture.h"
#include "devsettings/qwdevsetvideo.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace devsetfixture;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
const QString kEnc0 = "videoenc&stream=0";
const QString kEnc1 = "videoenc&stream=1";
const QString kAbility0 = "videoencability&stream=0";
const QString kAbility1 = "videoencability&stream=1";

QByteArray enc(const QByteArray &codec, const QByteArray &resolution, const QByteArray &quality,
               const QByteArray &active = "1")
{
    return "<response><videoenc><active>" + active + "</active><codec>" + codec + "</codec><resolution>" + resolution +
           "</resolution><framerate>25</framerate><rc>0</rc><keygop>50</keygop><bitrate>4096</bitrate><quality>" +
           quality + "</quality><profile>2</profile></videoenc></response>";
}

QByteArray option(const QByteArray &resolution)
{
    return "<option><resolution>" + resolution +
           "</resolution><bitrate>1024-8192</bitrate><framerate>1-25</framerate><quality>0-5</quality>"
           "<keygop>1-100</keygop></option>";
}

QByteArray ability(const QByteArray &codecs)
{
    return "<response><videoencability>" + codecs + "</videoencability></response>";
}

QByteArray body0(const QByteArray &values)
{
    return kDeclaration + "<request><videoenc ver=\"2.0\"><active>1</active>" + values + "</videoenc></request>";
}

} // namespace

class VideoTest : public QObject, public PageCase<qwDevsetVideo>
{
    Q_OBJECT

    // Selects the page and waits until both ability replies were handled.
    void load()
    {
        const int before = m_fx->count("GET", kAbility1);
        Deliveries deliveries(m_page.get());
        m_page->OnInitParameters(117);
        QVERIFY(m_fx->waitAnswered("GET", kAbility0, before + 1));
        QVERIFY(m_fx->waitAnswered("GET", kAbility1, before + 1));
        QTRY_VERIFY(deliveries.count >= 4);
    }
    // Saves, and waits for the sets that should come and their results.
    void save(int posts0, int posts1)
    {
        Deliveries deliveries(m_page.get());
        w<QPushButton>("pushButton_Save")->click();
        QVERIFY(m_fx->waitAnswered("POST", kEnc0, posts0));
        QVERIFY(m_fx->waitAnswered("POST", kEnc1, posts1));
        QTRY_VERIFY(deliveries.count >= (posts0 > 0) + (posts1 > 0));
    }
    QByteArray lastBody(const QString &key) { return m_fx->requests("POST", key).last().body; }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init() { QVERIFY(open()); }
    void cleanup() { close(); }

    // Only the codecs the device names, each sent as its own number.
    void codecList_data()
    {
        QTest::addColumn<QByteArray>("codecs");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("shown");
        const QByteArray h264 = "<h264>" + option("1920x1080") + "</h264>";
        const QByteArray h265 = "<h265>" + option("1920x1080") + "</h265>";
        const QStringList both{"H264", "H265"};
        QTest::newRow("both, 0") << h264 + h265 << QByteArray("0") << both << "H264";
        QTest::newRow("both, 1") << h264 + h265 << QByteArray("1") << both << "H265";
        QTest::newRow("h264, 0") << h264 << QByteArray("0") << QStringList{"H264"} << "H264";
        // A codec the device does not name is shown as an extra entry.
        QTest::newRow("h264, 1") << h264 << QByteArray("1") << both << "H265";
        QTest::newRow("h265, 0") << h265 << QByteArray("0") << QStringList{"H265", "H264"} << "H264";
        QTest::newRow("h265, 1") << h265 << QByteArray("1") << QStringList{"H265"} << "H265";
        QTest::newRow("neither, 0") << QByteArray() << QByteArray("0") << QStringList{"H264"} << "H264";
        QTest::newRow("neither, 1") << QByteArray() << QByteArray("1") << both << "H265";
    }
    void codecList()
    {
        QFETCH(QByteArray, codecs);
        QFETCH(QByteArray, codec);
        QFETCH(QStringList, list);
        QFETCH(QString, shown);
        m_fx->device().setSubject(kEnc0, enc(codec, "1920x1080", "4"));
        m_fx->device().setSubject(kAbility0, ability(codecs));
        load();
        QCOMPARE(texts("comboBox_Codec0"), list);
        for (int i = 0; i < list.size(); ++i)
            QCOMPARE(w("comboBox_Codec0")->itemData(i).toInt(), list.at(i) == "H265" ? 1 : 0);
        QCOMPARE(w("comboBox_Codec0")->currentText(), shown);
        save(1, 1);
        QVERIFY(lastBody(kEnc0).contains("<codec>" + codec + "</codec>"));
    }

    // A value a list lacks is shown as an extra entry and sent back as read.
    void valueTheListLacks()
    {
        m_fx->device().setSubject(kEnc0, enc("0", "1920x1080", "0"));
        load();
        QCOMPARE(w("comboBox_Quality0")->currentText(), "0");
        save(1, 1);
        QVERIFY(lastBody(kEnc0).contains("<quality>0</quality>"));

        m_fx->device().setSubject(kEnc0, enc("0", "800x600", "4"));
        load();
        QCOMPARE(w("comboBox_Resolution0")->currentText(), "800x600");
        QCOMPARE(texts("comboBox_Framerate0"), QStringList{"25"});
        save(2, 2);
        QCOMPARE(lastBody(kEnc0), body0("<codec>0</codec><resolution>800x600</resolution><framerate>25</framerate>"
                                        "<rc>0</rc><keygop>50</keygop><bitrate>4096</bitrate><quality>4</quality>"
                                        "<profile>2</profile>"));
    }

    // An h264 without options does not take those of the h265 after it.
    void optionsStayInTheirCodec()
    {
        m_fx->device().setSubject(kAbility0, ability("<h264></h264><h265>" + option("1920x1080") + "</h265>"));
        load();
        // Only the device's own values, as extra entries.
        QCOMPARE(texts("comboBox_Resolution0"), QStringList{"1920x1080"});
        QCOMPARE(texts("comboBox_Framerate0"), QStringList{"25"});
    }

    void bitrateBounds_data()
    {
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<bool>("sent");
        QTest::newRow("minimum") << true << "1024" << true;
        QTest::newRow("maximum") << true << "8192" << true;
        QTest::newRow("below") << true << "1023" << false;
        QTest::newRow("above") << true << "9000" << false;
        // Never read: whatever the bit rate, nothing goes out.
        QTest::newRow("no range, 0") << false << "0" << false;
        QTest::newRow("no range, empty") << false << "" << false;
        QTest::newRow("no range, 1") << false << "1" << false;
    }
    void bitrateBounds()
    {
        QFETCH(bool, read);
        QFETCH(QString, bitrate);
        QFETCH(bool, sent);
        if (read)
            load();
        w<QLineEdit>("lineEdit_Bitrate0")->setValidator(nullptr);
        w<QLineEdit>("lineEdit_Bitrate0")->setText(bitrate);
        w<QLineEdit>("lineEdit_Bitrate1")->setText(read ? "512" : "0");
        w<QPushButton>("pushButton_Save")->click();
        if (sent) {
            QVERIFY(m_fx->waitAnswered("POST", kEnc1, 1));
            QTRY_VERIFY(tipShown(m_page.get()));
            QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_setsuccess"});
        } else {
            QCOMPARE(popupKeys(m_page.get()), read ? QStringList{"tip_invbitrate"} : QStringList());
            QCOMPARE(m_fx->count("POST", kEnc0), 0);
        }
    }

    void saveChain_data()
    {
        QTest::addColumn<int>("status0");
        QTest::addColumn<int>("status1");
        QTest::addColumn<int>("posts1");
        QTest::addColumn<QString>("tip");
        QTest::newRow("200/200") << 200 << 200 << 1 << "tip_setsuccess";
        QTest::newRow("500 first") << 500 << 200 << 0 << "tip_setfailed";
        QTest::newRow("200/500") << 200 << 500 << 1 << "tip_setfailed";
    }
    void saveChain()
    {
        QFETCH(int, status0);
        QFETCH(int, status1);
        QFETCH(int, posts1);
        QFETCH(QString, tip);
        load();
        if (status0 != 200)
            m_fx->device().addFault("set:" + kEnc0, Fault::status(status0));
        if (status1 != 200)
            m_fx->device().addFault("set:" + kEnc1, Fault::status(status1));
        save(1, posts1);
        QTRY_VERIFY(tipShown(m_page.get()));
        QCOMPARE(popupKeys(m_page.get()), QStringList{tip});
        QCOMPARE(m_fx->count("POST", kEnc1), posts1);
        if (posts1)
            QCOMPARE(lastBody(kEnc1), kDeclaration +
                                          "<request><videoenc ver=\"2.0\"><active>1</active><codec>0</codec>"
                                          "<resolution>640x360</resolution><framerate>25</framerate><rc>0</rc>"
                                          "<keygop>50</keygop><bitrate>512</bitrate><quality>3</quality>"
                                          "<profile>1</profile></videoenc></request>");
    }

    void refusedSet()
    {
        load();
        m_page->setDeviceInfo("127.0.0.1", m_fx->port(), "admin", "");
        w<QPushButton>("pushButton_Save")->click();
        QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_unknowerror"});
    }

    // A lower maximum goes into the edit and caps the frame rate; an option
    // without a frame-rate range caps it at 5.
    void resolutionChange()
    {
        QByteArray options = option("1920x1080") +
                             "<option><resolution>1280x720</resolution><bitrate>512-2048</bitrate>"
                             "<framerate>1-20</framerate></option>"
                             "<option><resolution>640x360</resolution><bitrate>128-1024</bitrate></option>";
        m_fx->device().setSubject(kAbility0, ability("<h264>" + options + "</h264>"));
        load();
        w("comboBox_Resolution0")->setCurrentIndex(1);
        QCOMPARE(w<QLineEdit>("lineEdit_Bitrate0")->text(), "2048");
        QCOMPARE(w<QLabel>("label_BitrateRange0")->text(), "[512-2048] kbps");
        QCOMPARE(w("comboBox_Framerate0")->currentText(), "20");
        w("comboBox_Resolution0")->setCurrentIndex(2);
        QCOMPARE(w("comboBox_Framerate0")->count(), 20); // kept, none to replace it
        QCOMPARE(w("comboBox_Framerate0")->currentText(), "5");
    }

    void subStreamOff()
    {
        load();
        w("comboBox_SubEnable")->setCurrentIndex(0);
        for (const char *name : {"comboBox_Codec1", "comboBox_Resolution1", "comboBox_Quality1", "comboBox_Keyframe1",
                                 "comboBox_Framerate1", "comboBox_Profile1", "comboBox_BitrateType1"})
            QVERIFY2(!w(name)->isEnabled(), name);
        QVERIFY(!w<QLineEdit>("lineEdit_Bitrate1")->isEnabled());
        save(1, 1);
        QVERIFY(lastBody(kEnc1).contains("<active>0</active>"));
        // Constant bit rate keeps the quality off when the stream comes back.
        w("comboBox_BitrateType1")->setCurrentIndex(1);
        w("comboBox_SubEnable")->setCurrentIndex(1);
        QVERIFY(!w("comboBox_Quality1")->isEnabled());
        QVERIFY(w("comboBox_Codec1")->isEnabled());
    }
};

QTEST_MAIN(VideoTest)
#include "tst_video.moc"
