#include "devsetfixture.h"
#include "devsettings/qwdevsetaudio.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

using namespace devsetfixture;

namespace {

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

QByteArray encoding(const QByteArray &inner)
{
    return "<response><audioenc>" + inner + "</audioenc></response>";
}

QByteArray encodingBody(int active, int codec, int sample, int channel, int input)
{
    return kDeclaration + QStringLiteral("<request><audioenc><active>%1</active><codec>%2</codec><sample>%3</sample>"
                                         "<bitwidth>16</bitwidth><bitrate>16000</bitrate><channel>%4</channel>"
                                         "<input>%5</input></audioenc></request>")
                              .arg(active)
                              .arg(codec)
                              .arg(sample)
                              .arg(channel)
                              .arg(input)
                              .toUtf8();
}

} // namespace

class AudioTest : public QObject, public PageCase<qwDevsetAudio>
{
    Q_OBJECT

    // Selects the page and waits until all four replies were handled.
    void load(bool encoding = true)
    {
        const int before = m_fx->count("GET", "audiovolume");
        Deliveries deliveries(m_page.get());
        m_page->OnInitParameters(118);
        QVERIFY(m_fx->waitAnswered("GET", "audiovolume", before + 1));
        QVERIFY(m_fx->waitAnswered("GET", "audioencability", before + 1));
        QVERIFY(m_fx->waitAnswered("GET", "devability", before + 1));
        if (encoding)
            QVERIFY(m_fx->waitAnswered("GET", "audioenc", before + 1));
        QTRY_VERIFY(deliveries.count >= 3 + encoding);
    }
    void saveAndWait(int posts)
    {
        w<QPushButton>("pushButton_Save")->click();
        QVERIFY(m_fx->waitAnswered("POST", "audioenc", posts));
        QVERIFY(m_fx->waitAnswered("POST", "audiovolume", posts));
        QTRY_VERIFY(tipShown(m_page.get()));
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init() { QVERIFY(open()); }
    void cleanup() { close(); }

    // The lists hold what the device names; the codec goes with its channel.
    void codecs_data()
    {
        QTest::addColumn<QByteArray>("ability");
        QTest::addColumn<QStringList>("codecs");
        QTest::addColumn<QStringList>("samples");
        QTest::addColumn<int>("pick");
        QTest::addColumn<int>("codec");
        QTest::addColumn<int>("channel");
        const QByteArray g711u = "<g711u><option><sample>8000</sample></option><option><sample>16000</sample></option>"
                                 "<option><sample>48000</sample></option></g711u>";
        // The device's own G711u and 16000, which it does not name, as extra entries.
        const QStringList extra{"G711a", "AAC", "G711u"};
        QTest::newRow("g711a aac: AAC") << QByteArray("<g711a/><aac/>") << extra << QStringList{"16000"} << 1 << 2 << 1;
        QTest::newRow("g711a aac: G711a")
            << QByteArray("<g711a/><aac/>") << extra << QStringList{"16000"} << 0 << 1 << 0;
        QTest::newRow("all six: G726") << "<g726/><pcm/>" + g711u + "<mp2/><aac/><g711a/>"
                                       << QStringList{"G711u", "G711a", "AAC", "MP2", "PCM", "G726"}
                                       << QStringList{"8000", "16000", "48000"} << 5 << 5 << 0;
        QTest::newRow("three samples: MP2")
            << g711u + "<mp2/>" << QStringList{"G711u", "MP2"} << QStringList{"8000", "16000", "48000"} << 1 << 3 << 0;
    }
    void codecs()
    {
        QFETCH(QByteArray, ability);
        QFETCH(QStringList, codecs);
        QFETCH(QStringList, samples);
        QFETCH(int, pick);
        QFETCH(int, codec);
        QFETCH(int, channel);
        m_fx->device().setSubject("audioencability",
                                  "<response><audioencability>" + ability + "</audioencability></response>");
        m_fx->device().setSubject("audioenc", encoding("<active>1</active><codec>0</codec><sample>16000</sample>"
                                                       "<input>0</input>"));
        load();
        QCOMPARE(texts("comboBox_Codec"), codecs);
        QCOMPARE(texts("comboBox_Sample"), samples);
        if (!samples.isEmpty())
            QCOMPARE(w("comboBox_Sample")->currentText(), "16000");
        w("comboBox_Codec")->setCurrentIndex(pick);
        saveAndWait(1);
        QCOMPARE(m_fx->requests("POST", "audioenc").at(0).body, encodingBody(1, codec, 16000, channel, 0));
    }

    void inputMode_data()
    {
        QTest::addColumn<QByteArray>("devability");
        QTest::addColumn<bool>("selectable");
        QTest::newRow("missing") << QByteArray("<response><devability/></response>") << false;
        QTest::newRow("1") << QByteArray("<response><devability><aimode>1</aimode></devability></response>") << false;
        QTest::newRow("2") << QByteArray("<response><devability><aimode>2</aimode></devability></response>") << true;
    }
    void inputMode()
    {
        QFETCH(QByteArray, devability);
        QFETCH(bool, selectable);
        m_fx->device().setSubject("devability", devability);
        load();
        QCOMPARE(w("comboBox_Input")->isEnabled(), selectable);
        w<QCheckBox>("checkBox_Enable")->click();
        QVERIFY(!w("comboBox_Input")->isEnabled());
        QVERIFY(!w<QSlider>("slider_Input")->isEnabled());
        w<QCheckBox>("checkBox_Enable")->click();
        QCOMPARE(w("comboBox_Input")->isEnabled(), selectable);
        QVERIFY(w("comboBox_Codec")->isEnabled());
    }

    // An input the list lacks is shown as it came and sent back so.
    void inputTheListLacks()
    {
        m_fx->device().setSubject("audioenc", m_fx->device().subject("audioenc").replace("<input>1<", "<input>3<"));
        load();
        QCOMPARE(w("comboBox_Input")->currentText(), "3");
        saveAndWait(1);
        QVERIFY(m_fx->requests("POST", "audioenc").at(0).body.contains("<input>3</input>"));
    }

    void results_data()
    {
        QTest::addColumn<int>("encodingStatus");
        QTest::addColumn<int>("volumeStatus");
        QTest::addColumn<int>("volumeDelay");
        QTest::addColumn<QString>("tip");
        QTest::newRow("both, volume first") << 200 << 200 << 0 << "tip_setsuccess";
        QTest::newRow("both, encoding first") << 200 << 200 << 300 << "tip_setsuccess";
        QTest::newRow("encoding fails") << 500 << 200 << 300 << "tip_setfailed";
        QTest::newRow("volume fails") << 200 << 500 << 0 << "tip_setfailed";
    }
    void results()
    {
        QFETCH(int, encodingStatus);
        QFETCH(int, volumeStatus);
        QFETCH(int, volumeDelay);
        QFETCH(QString, tip);
        load();
        if (volumeStatus == 200 && encodingStatus == 200 && volumeDelay == 0)
            m_fx->device().addFault("set:audioenc", Fault::delay(300), 1);
        if (volumeDelay)
            m_fx->device().addFault("set:audiovolume", Fault::delay(volumeDelay), 1);
        if (encodingStatus != 200)
            m_fx->device().addFault("set:audioenc", Fault::status(encodingStatus), 1);
        if (volumeStatus != 200)
            m_fx->device().addFault("set:audiovolume", Fault::status(volumeStatus), 1);
        Deliveries deliveries(m_page.get());
        saveAndWait(1);
        QTRY_VERIFY(deliveries.count >= 2);
        QCOMPARE(popupKeys(m_page.get()), QStringList{tip});
    }

    void restoreThenSave()
    {
        m_fx->device().setSubject("audioenc", encoding("<active>1</active><codec>2</codec><sample>16000</sample>"
                                                       "<input>0</input>"));
        load();
        QCOMPARE(w("comboBox_Codec")->currentText(), "AAC");
        w<QPushButton>("pushButton_Restore")->click();
        QCOMPARE(m_fx->count("POST", "audioenc"), 0);
        saveAndWait(1);
        QCOMPARE(m_fx->requests("POST", "audioenc").at(0).body, encodingBody(1, 0, 8000, 0, 1));
        QVERIFY(m_fx->requests("POST", "audiovolume").at(0).body.contains("<input>80</input><output>80</output>"));
    }

    // A device naming no codec: the last encoding reply's codec (shown as
    // an extra entry), channel and sample rate go back; with none read,
    // nothing is sent.
    void noCodecListed_data()
    {
        QTest::addColumn<bool>("encodingRead");
        QTest::newRow("after an encoding reply") << true;
        QTest::newRow("without one") << false;
    }
    void noCodecListed()
    {
        QFETCH(bool, encodingRead);
        m_fx->device().setSubject("audioencability", "<response><audioencability/></response>");
        m_fx->device().setSubject("audioenc", encoding("<active>1</active><codec>2</codec><sample>16000</sample>"
                                                       "<input>1</input>"));
        if (!encodingRead)
            m_fx->device().addFault("get:audioenc", Fault::status(500));
        load(encodingRead);
        if (!encodingRead)
            QVERIFY(m_fx->waitAnswered("GET", "audioenc", 1));
        QCOMPARE(texts("comboBox_Codec"), encodingRead ? QStringList{"AAC"} : QStringList{});
        if (encodingRead) {
            saveAndWait(1);
            QCOMPARE(m_fx->requests("POST", "audioenc").at(0).body, encodingBody(1, 2, 16000, 1, 1));
        } else {
            // The failed read is said, and Save sends nothing.
            QTRY_VERIFY(tipShown(m_page.get()));
            w<QPushButton>("pushButton_Save")->click();
            QCOMPARE(popupKeys(m_page.get()), QStringList{"tip_readfailed"});
            QCOMPARE(m_fx->count("POST", "audioenc") + m_fx->count("POST", "audiovolume"), 0);
        }
    }
};

QTEST_MAIN(AudioTest)
#include "tst_audio.moc"
