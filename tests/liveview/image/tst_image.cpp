// The image panel against the loopback device: reading the image document,
// writing it back whole, and what the panel does with bad or refused
// answers.

#include "app/core/cgiutil.h"
#include "liveview/qclivedevicerequests.h"
#include "liveview/qwimagepanel.h"
#include "tests/devicesim/faults.h"
#include "tests/devicesim/xmltree.h"
#include "tests/support/livepage.h"
#include "tests/support/popups.h"
#include "livedevices.h"
#include "panelsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QtTest>

using devicesim::Fault;

namespace {

enum { Saturation, Brightness, Sharpness, Contrast };

} // namespace

class tst_Image : public QObject
{
    Q_OBJECT
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::unique_ptr<devicesim::Device> m_dev;
    QByteArray m_subject;
    std::unique_ptr<qcLiveDeviceRequests> m_req;
    std::unique_ptr<qwImagePanel> m_panel;

    void waitIdle(int id)
    {
        QTRY_VERIFY(panelsupport::finished(*m_req, id));
        QCoreApplication::processEvents();
    }
    void selectAndRead()
    {
        m_req->setDevice(m_dev->address().toString(), QString::number(m_dev->port()), "admin", "1234");
        m_panel->requestImageInfo();
        waitIdle(qcLiveDeviceRequests::GetImageId);
        m_dev->clearLog();
    }
    QList<QByteArray> sets() const { return panelsupport::posted(*m_dev, "/action/set"); }
    QString valueText(int i) const { return m_panel->valueLabel(i)->text(); }
    bool nothingSent() const { return panelsupport::nothingArrives(*m_dev); }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        m_fixture.reset(new testsupport::LivePageFixture);
        QVERIFY(m_fixture->isValid());
        m_dev = livedevices::start("127.0.0.2");
        QVERIFY(m_dev);
        m_subject = m_dev->subject("videoimage");
    }
    void init()
    {
        m_dev->clearFaults();
        m_dev->setSubject("videoimage", m_subject);
        m_req.reset(new qcLiveDeviceRequests);
        m_panel.reset(new qwImagePanel(m_req.get()));
        selectAndRead();
    }
    void cleanup()
    {
        QCOMPARE(testsupport::popupKeys(m_panel.get()), QStringList());
        m_panel.reset();
        m_req.reset();
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("replace");
        QTest::addColumn<QByteArray>("with");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<int>("mirror");
        // Labels of saturation, brightness, sharpness and contrast; none
        // at all for a reply that is not read.
        const auto row = [](const char *name, const QByteArray &replace, const QByteArray &with, const char *fault,
                            const char *labels, int mirror) {
            QTest::newRow(name) << replace << with << QString(fault) << QString(labels).split(',') << mirror;
        };
        const char *none = ",,,";
        row("in range", "<brightness>50</brightness>", "<brightness>30</brightness>", "", "50,30,50,50", 0);
        row("050", "<saturation>50</saturation>", "<saturation>050</saturation>", "", "050,50,50,50", 0);
        row("brightness 150", "<brightness>50</brightness>", "<brightness>150</brightness>", "", none, -1);
        row("mirror 4", "<mirror>0</mirror>", "<mirror>4</mirror>", "", none, -1);
        row("no number", "<sharpness>50</sharpness>", "<sharpness>soft</sharpness>", "", none, -1);
        row("missing", "<contrast>50</contrast>", "", "", none, -1);
        row("500", "", "", "500", none, -1);
        row("truncated", "</response>", "", "", none, -1);
        row("cut", "", "", "cut", none, -1);
        row("dropped", "", "", "drop", none, -1);
        row("undecodable value", "<brightness>50</brightness>", "<brightness>\xb5\xc4</brightness>", "", none, -1);
        row("undecodable other", "<noise>50</noise>", "<noise>50\xa3\xa8</noise>", "", none, -1);
    }
    void replies()
    {
        QFETCH(QByteArray, replace);
        QFETCH(QByteArray, with);
        QFETCH(QString, fault);
        QFETCH(QStringList, labels);
        QFETCH(int, mirror);
        const bool read = mirror >= 0;
        if (fault == "500") {
            m_dev->addFault("get:videoimage", Fault::status(500, m_subject));
        } else if (!fault.isEmpty()) {
            m_dev->addFault("get:videoimage", panelsupport::fault(fault));
        }
        QByteArray subject = m_subject;
        if (!replace.isEmpty())
            QVERIFY(subject.contains(replace));
        m_dev->setSubject("videoimage", subject.replace(replace, with));
        selectAndRead();
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(valueText(i), labels[i]);
            QCOMPARE(m_panel->slider(i)->value(), labels[i].toInt()); // no value shows as none
            QCOMPARE(m_panel->slider(i)->isEnabled(), read);
        }
        QCOMPARE(m_panel->mirrorBox()->currentIndex(), mirror);
        QCOMPARE(m_panel->readNote()->isVisibleTo(m_panel.get()), !read);
        QVERIFY(nothingSent());
        if (read)
            return;
        // A change on a panel that could not read its device goes nowhere.
        panelsupport::drag(m_panel->slider(Brightness), {77});
        m_panel->mirrorBox()->setCurrentIndex(2);
        QCOMPARE(m_panel->slider(Brightness)->value(), 0);
        QCOMPARE(m_panel->mirrorBox()->currentIndex(), -1);
        QVERIFY(nothingSent());

        // The next read that works shows the device's values and lets them change.
        m_dev->clearFaults();
        m_dev->setSubject("videoimage", m_subject);
        selectAndRead();
        QVERIFY(m_panel->readNote()->isHidden());
        QCOMPARE(valueText(Brightness), QString("50"));
        panelsupport::drag(m_panel->slider(Brightness), {77});
        QVERIFY(m_dev->waitForRequests(1, 5000));
    }

    // A change carries the device's own text for every value the operator
    // left alone.
    void changeKeepsTheDevicesTexts()
    {
        m_dev->setSubject("videoimage",
                          QByteArray(m_subject).replace("<contrast>50</contrast>", "<contrast>050</contrast>"));
        selectAndRead();
        m_panel->mirrorBox()->setCurrentIndex(3);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        const QByteArray body = sets().value(0);
        QVERIFY2(body.contains("<contrast>050</contrast>") && body.contains("<mirror>3</mirror>"), body.constData());
    }

    // Read-modify-write: only the changed value differs, and the device
    // reads it back.
    void saturationMoveKeepsTheDocument()
    {
        m_panel->slider(Saturation)->setValue(61);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        const QByteArray body = sets().value(0);
        QByteArray expected =
            "<request>" + CGIUtil::condenseMarkup(QString::fromUtf8(devicesim::stripDeclaration(m_subject)))
                              .toUtf8()
                              .mid(int(qstrlen("<response>")));
        expected.replace("<saturation>50</saturation>", "<saturation>61</saturation>");
        expected.replace("</response>", "</request>");
        QCOMPARE(body, expected);
        QCOMPARE(sets().size(), 1);
        selectAndRead();
        QCOMPARE(m_panel->slider(Saturation)->value(), 61);
        QVERIFY(m_dev->subject("videoimage").contains("<tsection>21600-64800</tsection>"));
    }

    // During a drag a change made while a settings request runs is dropped;
    // the release sends the final values.
    void dragWhileSlow_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("delay") << "delay:800";
        QTest::newRow("stall") << "stall";
    }
    void dragWhileSlow()
    {
        QFETCH(QString, fault);
        m_dev->addFault("set:videoimage", panelsupport::fault(fault));
        QSignalSpy aborted(m_req.get(), &qcLiveDeviceRequests::requestAborted);
        panelsupport::drag(m_panel->slider(Brightness), {10, 20, 30});
        QVERIFY(m_dev->waitForRequests(2, 5000));
        QCOMPARE(sets().size(), 2);
        QVERIFY(sets()[0].contains("<brightness>10</brightness>"));
        QVERIFY(sets()[1].contains("<brightness>30</brightness>"));
        QCOMPARE(aborted.count(), fault == "stall" ? 1 : 0);
    }

    // A change the device took, then one it refused while the first was
    // still answering: the panel shows, and will send back, what the device
    // holds.
    void acceptedThenRefused()
    {
        m_dev->addFault("set:videoimage", Fault::status(401));
        m_dev->addFault("set:videoimage", Fault::delay(800), 1);
        panelsupport::drag(m_panel->slider(Brightness), {10, 30});
        QVERIFY(m_dev->waitForRequests(2, 5000));
        waitIdle(qcLiveDeviceRequests::SetImageId);
        QVERIFY(m_dev->subject("videoimage").contains("<brightness>10</brightness>"));
        QCOMPARE(m_panel->slider(Brightness)->value(), 10);
        QCOMPARE(valueText(Brightness), QString("10"));
        QVERIFY(m_panel->cachedDocument().contains("<brightness>10</brightness>"));
    }

    void documentBound()
    {
        // A reply that prints longer than the bound is not kept, so nothing is sent.
        QByteArray big = m_subject;
        big.replace("<freq>0</freq>", "<freq>0</freq><pad>" + QByteArray(2100, 'x') + "</pad>");
        m_dev->setSubject("videoimage", big);
        selectAndRead();
        QVERIFY(m_panel->cachedDocument().isEmpty());
        m_panel->slider(Saturation)->setValue(70);
        QCOMPARE(m_panel->slider(Saturation)->value(), 50);
        QVERIFY(nothingSent());

        // One that fits, but would not with "100" for "0": the send is left out.
        QByteArray tight = m_subject;
        tight.replace("<saturation>50</saturation>", "<saturation>0</saturation>");
        tight.replace("<freq>0</freq>", "<freq>0</freq><pad>x</pad>");
        m_dev->setSubject("videoimage", tight);
        selectAndRead();
        const int room = qwImagePanel::kMaxDocumentBytes - 1 - m_panel->cachedDocument().size();
        tight.replace("<pad>x</pad>", "<pad>" + QByteArray(1 + room, 'x') + "</pad>");
        m_dev->setSubject("videoimage", tight);
        selectAndRead();
        const QByteArray cached = m_panel->cachedDocument();
        QCOMPARE(cached.size(), qwImagePanel::kMaxDocumentBytes - 1);
        m_panel->slider(Saturation)->setValue(100);
        QCOMPARE(m_panel->slider(Saturation)->value(), 0);
        QCOMPARE(m_panel->cachedDocument(), cached);
        QVERIFY(nothingSent());
    }

    // The document is taken from the whole reply, never from a chunk, and
    // never from an error reply.
    void cacheFromWholeUsableReply()
    {
        m_dev->addFault("get:videoimage", Fault::trickle(7, 1));
        selectAndRead();
        QVERIFY(m_panel->cachedDocument().startsWith("<request>"));
        QVERIFY(m_panel->cachedDocument().contains("<bgain>50</bgain>"));

        m_dev->addFault("get:videoimage", Fault::status(500, m_subject));
        selectAndRead();
        QVERIFY(m_panel->cachedDocument().isEmpty());
        panelsupport::drag(m_panel->slider(Sharpness), {20});
        QCOMPARE(m_panel->slider(Sharpness)->value(), 0);
        QCOMPARE(valueText(Sharpness), QString());
        QVERIFY(nothingSent());
    }

    void p2pDeviceTakesNoSettings()
    {
        m_req->setDevice("ARDOSIM0000000000001", "0", "admin", "1234");
        m_panel->slider(Saturation)->setValue(20);
        m_panel->mirrorBox()->setCurrentIndex(2);
        // Nothing read from it: none of the previous device's values show.
        QCOMPARE(m_panel->slider(Saturation)->value(), 0);
        QCOMPARE(valueText(Saturation), QString());
        QCOMPARE(m_panel->mirrorBox()->currentIndex(), -1);
        QVERIFY(nothingSent());
    }

    void refusedChangeGoesBack()
    {
        m_dev->addFault("set:videoimage", Fault::status(401));
        m_panel->slider(Contrast)->setValue(80);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        waitIdle(qcLiveDeviceRequests::SetImageId);
        QCOMPARE(m_panel->slider(Contrast)->value(), 50);
        QCOMPARE(valueText(Contrast), QString("50"));
        QVERIFY(!m_dev->waitForRequests(2, 300));

        m_dev->clearFaults();
        m_panel->slider(Contrast)->setValue(81);
        waitIdle(qcLiveDeviceRequests::SetImageId);
        QCOMPARE(m_panel->slider(Contrast)->value(), 81);
    }
};

QTEST_MAIN(tst_Image)
#include "tst_image.moc"
