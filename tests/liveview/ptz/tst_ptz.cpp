// The PTZ panel against the loopback device: what each button sends, the
// speed slider, the preset rows, and the P2P route.

#include "app/core/cgiutil.h"
#include "app/core/currentuser.h"
#include "app/widgets/statusbutton.h"
#include "liveview/livetext.h"
#include "liveview/qclivedevicerequests.h"
#include "liveview/qcptzstopretry.h"
#include "liveview/qwptzpanel.h"
#include "liveview/qwpresetitem.h"
#include "media/qcstreamutil.h"
#include "tests/devicesim/faults.h"
#include "tests/support/livepage.h"
#include "tests/support/popups.h"
#include "livedevices.h"
#include "panelsupport.h"
#include "streamfakes.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QtTest>

using devicesim::Fault;
using testsupport::popupKeys;

namespace {

QString text(const char *key)
{
    return liveText(livetext::kPreviewPage, livetext::kNoSection, key);
}

QString move(int cmd, int h, int v)
{
    return QString::asprintf(
        "<request><ptzcmd><cmd>%d</cmd><move><hori>%d</hori><vert>%d</vert></move></ptzcmd></request>", cmd, h, v);
}

const QString kLensStop = "<request><ptzcmd><protocol>0</protocol><cmd>0</cmd><addr>1</addr></ptzcmd></request>";

QString lens(int cmd, const char *what, int v)
{
    return QString::asprintf("<request><ptzcmd><cmd>%d</cmd><addr>1</addr><%s>%d</%s></ptzcmd></request>", cmd, what, v,
                             what);
}

} // namespace

class tst_Ptz : public QObject
{
    Q_OBJECT
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::unique_ptr<devicesim::Device> m_dev;
    QByteArray m_ptzSubject;
    std::unique_ptr<qcLiveDeviceRequests> m_req;
    std::unique_ptr<qwPtzPanel> m_panel;

    StatusButton *button(int mask) const
    {
        return m_panel->findChild<StatusButton *>(QString(mask >= 21 ? "presetButton_%1" : "ptzButton_%1").arg(mask));
    }
    // Bodies the device received since the last clear, without the declaration.
    QStringList received(const QByteArray &path = "/action/ptz") const
    {
        QStringList out;
        for (const QByteArray &body : panelsupport::posted(*m_dev, path))
            out << QString::fromUtf8(body);
        return out;
    }
    // Hands the device over and reads its PTZ information, as a view selection does.
    void select(const QString &address = {})
    {
        m_req->setDevice(address.isNull() ? m_dev->address().toString() : address, QString::number(m_dev->port()),
                         "admin", "1234");
        m_panel->resetPresetRows();
        m_panel->requestPtzInfo();
    }
    void selectAndRead()
    {
        select();
        QTRY_VERIFY(panelsupport::finished(*m_req, qcLiveDeviceRequests::GetPtzId));
        QCoreApplication::processEvents();
        m_dev->clearLog();
    }
    void rename(int row, const QString &name)
    {
        qwPresetItem *item = m_panel->presetRow(row);
        m_panel->presetList()->setCurrentRow(row);
        QTest::mouseDClick(item, Qt::LeftButton);
        item->nameEdit()->setText(name);
        item->onEditfinished();
    }
    bool nothingSent() const { return panelsupport::nothingArrives(*m_dev); }
    qcPtzStopRetry *stops() const { return m_panel->findChild<qcPtzStopRetry *>(); }
    // The selected camera takes the press of that button and is gone before
    // its release: the stop is owed to it.
    void loseStop(devicesim::Device &dev, int mask)
    {
        QTest::mousePress(button(mask), Qt::LeftButton);
        QVERIFY(dev.waitForRequests(1, 5000));
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        dev.stop();
        dev.clearLog();
        QTest::mouseRelease(button(mask), Qt::LeftButton);
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        QCoreApplication::processEvents();
    }
    // One pass of the retry, and the end of every attempt it made.
    void retryPass()
    {
        stops()->retryOwed();
        QTRY_COMPARE(stops()->attemptsRunning(), 0);
        QCoreApplication::processEvents();
    }
    void backAgain(devicesim::Device &dev) { QVERIFY(dev.start(dev.address(), dev.port())); }
    // Every request to the selected camera has ended, the stops going ahead
    // of it too.
    void waitSettled()
    {
        QTRY_VERIFY(!m_req->ptzRunningTo(m_req->target()));
        QCoreApplication::processEvents();
    }
    // The operator's command on that button (0: the speed slider), a
    // direction or lens held and let go.
    void command(int mask)
    {
        if (mask == 0) {
            m_panel->speedSlider()->setValue(5);
        } else if (mask == 10 || mask >= 21) {
            m_panel->presetList()->setCurrentRow(0);
            QTest::mouseClick(button(mask), Qt::LeftButton);
        } else {
            QTest::mousePress(button(mask), Qt::LeftButton);
            waitSettled();
            QTest::mouseRelease(button(mask), Qt::LeftButton);
        }
        waitSettled();
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        m_fixture.reset(new testsupport::LivePageFixture);
        QVERIFY(m_fixture->isValid());
        m_dev = livedevices::start("127.0.0.2");
        QVERIFY(m_dev);
        m_ptzSubject = m_dev->subject("ptz");
        // One panel for the suite: 128 preset rows take their time to build.
        m_req.reset(new qcLiveDeviceRequests);
        m_panel.reset(new qwPtzPanel(m_req.get()));
        m_panel->show();
    }
    void cleanupTestCase()
    {
        m_panel.reset();
        m_req.reset();
    }
    void init()
    {
        g_curUserRights = 511;
        if (!m_dev->isListening()) // a row that failed while it was away
            backAgain(*m_dev);
        m_dev->clearFaults();
        m_dev->setSubject("ptz", m_ptzSubject);
        m_panel->presetList()->setCurrentRow(-1);
        selectAndRead();
    }
    void cleanup()
    {
        for (auto &slot : g_p2pStreams)
            slot = nullptr;
        popupKeys(m_panel.get());
    }

    void bodies_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("release");
        const int moves[9][3] = {{3, 0, 0}, {2, 0, 0}, {3, 1, 0}, {1, 0, 0}, {0, 0, 0},
                                 {1, 1, 0}, {3, 0, 1}, {2, 0, 1}, {3, 1, 1}};
        for (int m = 6; m <= 14; ++m) {
            const auto &v = moves[m - 6];
            if (m == 10)
                QTest::addRow("centre press") << m << QString() << QString();
            else
                QTest::addRow("pad %d", m) << m << move(v[0], v[1], v[2]) << move(0, 0, 0);
        }
        QTest::addRow("zoom out") << 15 << lens(8, "zoom", 0) << kLensStop;
        QTest::addRow("zoom in") << 16 << lens(8, "zoom", 1) << kLensStop;
        QTest::addRow("focussub") << 17 << lens(4, "focus", 1) << kLensStop;
        QTest::addRow("focusadd") << 18 << lens(4, "focus", 0) << kLensStop;
        QTest::addRow("iris -") << 19 << QString() << QString();
        QTest::addRow("iris +") << 20 << QString() << QString();
    }
    void bodies()
    {
        QFETCH(int, mask);
        QFETCH(QString, press);
        QFETCH(QString, release);
        QVERIFY(!button(mask)->isSelected()); // its frame and hover border show
        QTest::mousePress(button(mask), Qt::LeftButton);
        if (mask != 10) // its release is a click
            QTest::mouseRelease(button(mask), Qt::LeftButton);
        if (press.isEmpty()) {
            QVERIFY(nothingSent());
            return;
        }
        QVERIFY(m_dev->waitForRequests(2, 5000));
        QCOMPARE(received(), (QStringList{press, release}));
    }

    void centreClick()
    {
        QTest::mouseClick(button(10), Qt::LeftButton);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QCOMPARE(
            received(),
            QStringList("<request><ptzcmd><protocol>0</protocol><cmd>20000001</cmd><addr>1</addr></ptzcmd></request>"));
    }

    void withoutRight()
    {
        g_curUserRights = 0x100;
        QTest::mousePress(button(7), Qt::LeftButton);
        QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_permdenied"));
        QTest::mouseRelease(button(7), Qt::LeftButton);
        QTest::mouseClick(button(10), Qt::LeftButton);
        QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_permdenied"));
        m_panel->presetList()->setCurrentRow(0);
        for (int mask : {21, 22, 23}) {
            QTest::mouseClick(button(mask), Qt::LeftButton);
            QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_permdenied"));
        }
        m_panel->onPresetListDBClick(m_panel->presetList()->model()->index(0, 0));
        QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_permdenied"));
        rename(0, "Yard");
        QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_permdenied"));
        QCOMPARE(m_panel->presetRow(0)->nameLabel()->text(), QString("Gate"));
        QVERIFY(nothingSent());
    }

    void speedDrag()
    {
        QSlider *slider = m_panel->speedSlider();
        QCOMPARE(slider->value(), 3);
        QCOMPARE(m_panel->speedLabel()->text(), QString("3"));
        panelsupport::drag(slider, {1});
        QVERIFY(m_dev->waitForRequests(1, 5000));
        m_dev->clearLog();
        panelsupport::drag(slider, {2, 3, 4, 5, 6});
        QVERIFY(m_dev->waitForRequests(5, 10000));
        const QStringList sent = received("/action/set");
        QCOMPARE(sent.size(), 5);
        for (int i = 0; i < 5; ++i) {
            QVERIFY2(sent[i].contains(QString("<speed>%1</speed><addr>1</addr><serial><baudrate>9600</baudrate>"
                                              "<databit>8</databit><stopbit>1</stopbit><parity>0</parity>"
                                              "<flowctrl>0</flowctrl>")
                                          .arg(i + 1)),
                     qPrintable(sent[i]));
        }
    }

    void speedReplyIsShownNotSent()
    {
        m_dev->setSubject("ptz", QByteArray(m_ptzSubject).replace("<speed>2</speed>", "<speed>9</speed>"));
        selectAndRead();
        // The reply reaches the panel through queued signals that may still
        // be on their way when the request's thread has ended.
        QTRY_COMPARE(m_panel->speedLabel()->text(), QString("10"));
        QCOMPARE(m_panel->speedSlider()->value(), 6);
        QVERIFY(nothingSent());
    }

    // Another device's serial settings, or none, are never sent.
    void speedNeedsThisDevicesSerialSettings()
    {
        m_dev->addFault("get:ptz", Fault::stall());
        select();
        // Not read yet: the previous device's speed is not shown either.
        QCOMPARE(m_panel->speedLabel()->text(), QString());
        const int none = m_panel->speedSlider()->value();
        m_panel->speedSlider()->setValue(5);
        QCOMPARE(m_panel->speedSlider()->value(), none);
        m_dev->clearFaults();
        m_dev->setSubject("ptz", QByteArray(m_ptzSubject).replace("<baudrate>9600</baudrate>", ""));
        selectAndRead();
        m_panel->speedSlider()->setValue(5);
        QCOMPARE(m_panel->speedSlider()->value(), 3);
        QVERIFY(nothingSent());
        QCOMPARE(popupKeys(m_panel.get()), QStringList());
    }

    void refusedSpeedGoesBack()
    {
        m_dev->addFault("set:ptz", Fault::status(401));
        QSlider *slider = m_panel->speedSlider();
        slider->setSliderDown(true);
        slider->setValue(5);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        QCoreApplication::processEvents();
        QCOMPARE(slider->value(), 5); // not while the operator holds it
        slider->setSliderDown(false);
        QCOMPARE(slider->value(), 3);
        QCOMPARE(m_panel->speedLabel()->text(), QString("3"));
        QVERIFY(!m_dev->waitForRequests(2, 300));
        QCOMPARE(popupKeys(m_panel.get()), QStringList());

        m_dev->clearFaults();
        slider->setValue(4);
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        QCoreApplication::processEvents();
        QCOMPARE(slider->value(), 4);
    }

    void presetRowsFromReply_data()
    {
        QTest::addColumn<QByteArray>("ptz");
        QTest::addColumn<QStringList>("names");
        const QByteArray speed = "<speed>2</speed>";
        // "" the default name; a reply that is not read leaves every row
        // neither set nor unset.
        QTest::newRow("three") << speed + "<preset><pname>A</pname><pname></pname><pname>B</pname></preset>"
                               << QStringList{"A", "", "B", "x"};
        QByteArray many("<preset>");
        for (int i = 0; i < 150; ++i)
            many += "<pname>n" + QByteArray::number(i) + "</pname>";
        QTest::newRow("150") << speed + many + "</preset>" << QStringList{"n0", "n1", "n2", "n3"};
        QTest::newRow("no preset") << speed << QStringList{"x", "x", "x", "x"};
        QTest::newRow("no speed") << QByteArray("<preset><pname>A</pname></preset>") << QStringList{"", "", "", ""};
    }
    void presetRowsFromReply()
    {
        QFETCH(QByteArray, ptz);
        QFETCH(QStringList, names);
        for (int r = 0; r < 4; ++r)
            m_panel->setPresetRow(r, "x", "x");
        m_dev->setSubject("ptz", "<response><ptz>" + ptz + "</ptz></response>");
        m_req->requestPtzInfo();
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::GetPtzId)->isRunning());
        QCoreApplication::processEvents();
        for (int r = 0; r < 4; ++r) {
            const QString want = names[r].isEmpty() ? text("presetname") + QString::number(r + 1) : names[r];
            QCOMPARE(m_panel->presetRow(r)->nameLabel()->text(), want);
        }
        const bool read = !ptz.startsWith("<preset>");
        QCOMPARE(m_panel->presetRow(1)->stateLabel()->text(), names[1] == "x" ? QString("x")
                                                              : !read
                                                                  ? QString()
                                                                  : text(names[1].isEmpty() ? "isunset" : "issetted"));
        QCOMPARE(m_panel->readNote()->isVisibleTo(m_panel.get()), !read);
    }

    // A reply the panel cannot read as the device sent it shows none of its
    // values and lets no speed change rewrite the PTZ line.
    void unreadReplySendsNothing_data()
    {
        QTest::addColumn<QByteArray>("replace");
        QTest::addColumn<QByteArray>("with");
        QTest::addColumn<QString>("fault");
        QTest::newRow("undecodable address")
            << QByteArray("<addr>1</addr>") << QByteArray("<addr>1\xb5\xc4</addr>") << QString();
        QTest::newRow("undecodable name")
            << QByteArray("<pname>Gate</pname>") << QByteArray("<pname>G\xe2te</pname>") << QString();
        QTest::newRow("speed no number") << QByteArray("<speed>2</speed>") << QByteArray("<speed>fast</speed>")
                                         << QString();
        QTest::newRow("500") << QByteArray() << QByteArray() << "500";
        QTest::newRow("cut") << QByteArray() << QByteArray() << "cut";
    }
    void unreadReplySendsNothing()
    {
        QFETCH(QByteArray, replace);
        QFETCH(QByteArray, with);
        QFETCH(QString, fault);
        if (!fault.isEmpty()) {
            m_dev->addFault("get:ptz", panelsupport::fault(fault));
        }
        QVERIFY(replace.isEmpty() || m_ptzSubject.contains(replace));
        m_dev->setSubject("ptz", QByteArray(m_ptzSubject).replace(replace, with));
        selectAndRead();
        QVERIFY(m_panel->readNote()->isVisibleTo(m_panel.get()));
        QCOMPARE(m_panel->speedLabel()->text(), QString());
        QCOMPARE(m_panel->presetRow(0)->nameLabel()->text(), text("presetname") + "1");
        QCOMPARE(m_panel->presetRow(1)->stateLabel()->text(), QString());
        panelsupport::drag(m_panel->speedSlider(), {5});
        QCOMPARE(m_panel->speedLabel()->text(), QString());
        QVERIFY(nothingSent());

        m_dev->clearFaults();
        m_dev->setSubject("ptz", m_ptzSubject);
        selectAndRead();
        QVERIFY(m_panel->readNote()->isHidden());
        QCOMPARE(m_panel->presetRow(1)->stateLabel()->text(), text("isunset"));
        panelsupport::drag(m_panel->speedSlider(), {5});
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QVERIFY(
            received("/action/set")
                .value(0)
                .contains("<addr>1</addr><serial><baudrate>9600</baudrate><databit>8</databit><stopbit>1</stopbit>"));
    }

    // The stop of a held direction or lens that did not reach the camera is
    // told and sent again until the camera answers it; one the camera
    // answered, even with a refusal, is not sent again.
    void stopOwedUntilTheCameraAnswers_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("stop");
        QTest::newRow("up, camera gone") << 7 << "gone" << move(0, 0, 0);
        QTest::newRow("zoom in, camera gone") << 16 << "gone" << kLensStop;
        QTest::newRow("left, no answer") << 9 << "drop" << move(0, 0, 0);
        QTest::newRow("left, refused") << 9 << "500" << move(0, 0, 0);
        QTest::newRow("left, refused for its account") << 9 << "401" << move(0, 0, 0);
    }
    void stopOwedUntilTheCameraAnswers()
    {
        QFETCH(int, mask);
        QFETCH(QString, fault);
        QFETCH(QString, stop);
        const bool owed = fault != "500";
        auto *stops = m_panel->findChild<qcPtzStopRetry *>();
        QVERIFY(stops);
        QTest::mousePress(button(mask), Qt::LeftButton);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        if (fault == "gone")
            m_dev->stop();
        else
            m_dev->addFault("ptz:ctrl", fault == "drop" ? Fault::drop() : Fault::status(fault.toInt()), 1);
        m_dev->clearLog();
        QTest::mouseRelease(button(mask), Qt::LeftButton);
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        QCoreApplication::processEvents();
        QCOMPARE(popupKeys(m_panel.get()), owed ? QStringList("tip_ptzstopnotsent") : QStringList());
        QCOMPARE(stops->owedCount(), owed ? 1 : 0);

        // Another view selected meanwhile: the stop still goes to its camera.
        select("127.0.0.9");
        if (fault == "gone")
            QVERIFY(m_dev->start(m_dev->address(), m_dev->port()));
        const int arrive = fault == "gone" || fault == "500" ? 1 : 2;
        QTRY_COMPARE_WITH_TIMEOUT(stops->owedCount(), 0, 15000);
        QVERIFY(m_dev->waitForRequests(arrive, 5000));
        QCOMPARE(received(), QStringList(QVector<QString>(arrive, stop).toList()));
        QCOMPARE(popupKeys(m_panel.get()), QStringList());
    }

    // A camera that stays away holds up no other camera's stop.
    void eachCameraGetsItsOwnStop()
    {
        auto other = livedevices::start("127.0.0.3");
        QVERIFY(other);
        loseStop(*m_dev, 7);
        m_req->setDevice(other->address().toString(), QString::number(other->port()), "admin", "1234");
        loseStop(*other, 16);
        QCOMPARE(stops()->owedCount(), 2);
        popupKeys(m_panel.get());

        backAgain(*other);
        retryPass();
        QCOMPARE(panelsupport::posted(*other, "/action/ptz"), QList<QByteArray>{kLensStop.toUtf8()});
        QCOMPARE(stops()->owedCount(), 1);
        backAgain(*m_dev);
        retryPass();
        QCOMPARE(received(), QStringList(move(0, 0, 0)));
        QCOMPARE(stops()->owedCount(), 0);
    }

    // A camera that takes one stop for every motion would end the move the
    // operator started since with the stop it was owed before.
    void noOwedStopAfterALaterMove_data()
    {
        QTest::addColumn<int>("owedMask");
        QTest::addColumn<int>("heldMask");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("release");
        QTest::newRow("lens owed, up held") << 16 << 7 << move(2, 0, 0) << move(0, 0, 0);
        QTest::newRow("direction owed, zoom held") << 7 << 16 << lens(8, "zoom", 1) << kLensStop;
    }
    void noOwedStopAfterALaterMove()
    {
        QFETCH(int, owedMask);
        QFETCH(int, heldMask);
        QFETCH(QString, press);
        QFETCH(QString, release);
        loseStop(*m_dev, owedMask);
        backAgain(*m_dev);
        QTest::mousePress(button(heldMask), Qt::LeftButton);
        QTRY_VERIFY(received().contains(press));
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        QCoreApplication::processEvents();
        retryPass();
        QTest::mouseRelease(button(heldMask), Qt::LeftButton);
        QTRY_VERIFY(received().contains(release));
        QTRY_VERIFY(!m_req->request(qcLiveDeviceRequests::PtzId)->isRunning());
        QCoreApplication::processEvents();
        // The retry's own pace may have sent the owed stop before the press.
        const QStringList got = received();
        QCOMPARE(got.mid(got.indexOf(press)), (QStringList{press, release}));
        QCOMPARE(stops()->owedCount(), 0);
        popupKeys(m_panel.get());
    }

    // What a camera owes reaches it before the operator's next command, as
    // the device sees them arrive. A command while the camera is away never
    // reaches it, so the stop stays owed, told again, and reaches it once it
    // is back; the command that failed does not follow.
    void owedStopGoesAheadOfTheCommand_data()
    {
        QTest::addColumn<int>("owedMask");
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("away");
        QTest::addColumn<QStringList>("arrivals");
        const QString ptz = "/action/ptz ";
        const QString up = ptz + move(2, 0, 0), upStop = ptz + move(0, 0, 0), zoomStop = ptz + kLensStop;
        const QString centre = ptz + "<request><ptzcmd><protocol>0</protocol><cmd>20000001</cmd>";
        const QString call = ptz + "<request><ptzcmd><cmd>4097</cmd>";
        QTest::newRow("centre, up owed") << 7 << 10 << false << QStringList{upStop, centre};
        QTest::newRow("up held, zoom owed") << 16 << 7 << false << QStringList{zoomStop, up, upStop};
        QTest::newRow("zoom held, up owed")
            << 7 << 16 << false << QStringList{upStop, ptz + lens(8, "zoom", 1), zoomStop};
        QTest::newRow("preset call, zoom owed") << 16 << 21 << false << QStringList{zoomStop, call};
        QTest::newRow("speed, up owed") << 7 << 0 << false
                                        << QStringList{upStop,
                                                       "/action/set <request><ptz ver=\"2.0\"><speed>4</speed>"};
        QTest::newRow("centre while away, up owed") << 7 << 10 << true << QStringList{upStop};
        QTest::newRow("preset call while away, up owed") << 7 << 21 << true << QStringList{upStop};
        QTest::newRow("up held while away, zoom owed") << 16 << 7 << true << QStringList{zoomStop, upStop};
    }
    void owedStopGoesAheadOfTheCommand()
    {
        QFETCH(int, owedMask);
        QFETCH(int, mask);
        QFETCH(bool, away);
        QFETCH(QStringList, arrivals);
        loseStop(*m_dev, owedMask);
        popupKeys(m_panel.get());
        if (!away)
            backAgain(*m_dev);
        command(mask);
        if (away) {
            QStringList told = popupKeys(m_panel.get());
            told.removeDuplicates();
            QCOMPARE(told, QStringList("tip_ptzstopnotsent"));
            QCOMPARE(stops()->owedCount(), arrivals.size());
            backAgain(*m_dev);
            retryPass();
        }
        QCOMPARE(stops()->owedCount(), 0);
        QVERIFY(panelsupport::nothingArrives(*m_dev, m_dev->requests().size()));
        QStringList got;
        for (const devicesim::LoggedRequest &r : m_dev->requests()) {
            const QString entry = r.path + ' ' + QString::fromUtf8(r.body.mid(r.body.indexOf("?>") + 2));
            // The retry's own pace may have sent the stop just before.
            if (got.isEmpty() || got.last() != entry)
                got << entry;
        }
        QCOMPARE(got.size(), arrivals.size());
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(got[i].startsWith(arrivals[i]), qPrintable(got[i]));
        popupKeys(m_panel.get());
    }

    // The device's password was changed meanwhile: the camera has not taken
    // the stop, and takes it once the device is given its new password.
    void refusedForItsAccount()
    {
        loseStop(*m_dev, 7);
        QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_ptzstopnotsent"));
        m_dev->setCredentials("admin", "5678");
        backAgain(*m_dev);
        for (const QStringList &told : {QStringList("tip_ptzstopnotsent"), QStringList()}) {
            retryPass();
            QCOMPARE(stops()->owedCount(), 1);
            QCOMPARE(popupKeys(m_panel.get()), told);
        }
        const _st_device_item was = livedevices::record("camA", *m_dev);
        _st_device_item now = was;
        now.password = "5678";
        m_req->listedDeviceChanged(was, now);
        retryPass();
        m_dev->setCredentials("admin", "1234");
        QCOMPARE(stops()->owedCount(), 0);
        QStringList taken;
        for (const devicesim::LoggedRequest &r : m_dev->requests()) {
            if (r.path == "/action/ptz" && r.authorized)
                taken << QString::fromUtf8(r.body.mid(r.body.indexOf("?>") + 2));
        }
        QCOMPARE(taken, QStringList(move(0, 0, 0)));
    }

    void callPreset()
    {
        QTest::mouseClick(button(21), Qt::LeftButton);
        QVERIFY(nothingSent());
        m_panel->presetList()->setCurrentRow(0);
        QTest::mouseClick(button(21), Qt::LeftButton);
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QCOMPARE(received(), QStringList("<request><ptzcmd><cmd>4097</cmd><preset><index>1</index></preset></ptzcmd>"
                                         "</request>"));
    }

    void setReadBackAndClear()
    {
        const QString name = "a<b&c \"x\" 'y'";
        m_panel->presetList()->setCurrentRow(1);
        QTest::mouseClick(button(22), Qt::LeftButton);
        m_panel->presetRow(1)->nameEdit()->setText(name);
        m_panel->presetRow(1)->onEditfinished();
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QTRY_COMPARE(m_panel->presetRow(1)->stateLabel()->text(), text("issetted"));
        selectAndRead();
        QCOMPARE(m_panel->presetRow(1)->nameLabel()->text(), name);

        QTest::mouseClick(button(23), Qt::LeftButton);
        QTRY_COMPARE(m_panel->presetRow(1)->stateLabel()->text(), text("isunset"));
        QCOMPARE(m_panel->presetRow(1)->nameLabel()->text(), text("presetname") + "2");
        QVERIFY(received()[0].contains("<cmd>4099</cmd><preset><index>2</index>"));
    }

    // An editor left open is closed, not committed, by a reset or a reply.
    void openRenameIsCancelled_data()
    {
        QTest::addColumn<bool>("bySetButton");
        QTest::addColumn<bool>("byReply");
        QTest::newRow("double click, reset") << false << false;
        QTest::newRow("set button, reset") << true << false;
        QTest::newRow("double click, reply") << false << true;
    }
    void openRenameIsCancelled()
    {
        QFETCH(bool, bySetButton);
        QFETCH(bool, byReply);
        QLineEdit outside(m_panel.get());
        m_panel->activateWindow();
        qwPresetItem *item = m_panel->presetRow(4);
        m_panel->presetList()->setCurrentRow(4);
        if (bySetButton)
            QTest::mouseClick(button(22), Qt::LeftButton);
        else
            QTest::mouseDClick(item, Qt::LeftButton);
        item->nameEdit()->setText("typed");
        if (byReply) {
            m_dev->setSubject("ptz", "<response><ptz><speed>2</speed><preset><pname/><pname/><pname/><pname/>"
                                     "<pname>Five</pname></preset></ptz></response>");
            selectAndRead();
        } else {
            m_panel->resetPresetRows();
        }
        outside.setFocus();
        QVERIFY(item->nameEdit()->isHidden());
        QVERIFY(nothingSent());
    }

    // The row travels with the request: a refusal restores the name the
    // device holds on that row, whatever is selected meanwhile.
    void refusedRenameRestoresItsOwnRow()
    {
        m_dev->addFault("ptz:ctrl", Fault::status(401));
        rename(0, "Yard");
        m_panel->presetList()->setCurrentRow(6);
        m_panel->onPresetListClick(m_panel->presetList()->model()->index(6, 0));
        QVERIFY(m_dev->waitForRequests(1, 5000));
        QTRY_COMPARE(m_panel->presetRow(0)->nameLabel()->text(), QString("Gate"));
        QCOMPARE(m_panel->presetRow(0)->stateLabel()->text(), text("issetted"));
        QCOMPARE(m_panel->presetRow(6)->nameLabel()->text(), text("presetname") + "7");
        QCOMPARE(popupKeys(m_panel.get()), QStringList());
    }

    void p2pRefusals()
    {
        streamfakes::FakeP2PStream fake("P2PID0001", "LOOPP2P");
        g_p2pStreams[0] = &fake;
        select("P2PID0009");
        m_panel->onPtzbuttonPress(7);
        select("");
        m_panel->onPtzbuttonPress(7);
        QVERIFY(fake.ptzIds.empty());

        select("P2PID0001");
        m_panel->presetList()->setCurrentRow(0);
        for (int mask : {21, 23}) {
            QTest::mouseClick(button(mask), Qt::LeftButton);
            QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_p2pdevnotsupport"));
        }
        rename(0, "Yard");
        QCOMPARE(popupKeys(m_panel.get()), QStringList("tip_p2pdevnotsupport"));
        QCOMPARE(m_panel->presetRow(0)->nameLabel()->text(), text("presetname") + "1");
        const int speed = m_panel->speedSlider()->value();
        m_panel->speedSlider()->setValue(speed == 6 ? 1 : 6);
        QCOMPARE(m_panel->speedSlider()->value(), speed);
        QCOMPARE(popupKeys(m_panel.get()), QStringList());
        QVERIFY(nothingSent());
    }
};

QTEST_MAIN(tst_Ptz)
#include "tst_ptz.moc"
