#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/widgets/qclabelex.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/statusbutton.h"
#include "app/widgets/userrights.h"
#include "device/qcaudiocapture.h"
#include "liveview/livegrid.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwliveview.h"
#include "liveview/qwvideoshowtoolbar.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "media/qcstreamserver.h"
#include "tests/support/livepage.h"
#include "tests/support/pictures.h"
#include "tests/support/popups.h"
#include "tests/support/pulsedaemon.h"
#include "tests/support/systemlog.h"
#include "livedevices.h"
#include "streamfakes.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

namespace {

// The link tips shown over the page.
QList<qwTipsdlgEx *> pathTips(QWidget *page)
{
    QList<qwTipsdlgEx *> tips;
    for (qwTipsdlgEx *tip : page->findChildren<qwTipsdlgEx *>())
        if (tip->kind() == qwTipsdlgEx::FilePath)
            tips << tip;
    return tips;
}

// Their paths, the tips taken away as they are read.
QStringList linkTips(QWidget *page)
{
    QStringList paths;
    for (qwTipsdlgEx *tip : pathTips(page)) {
        paths << tip->tipText();
        delete tip;
    }
    return paths;
}

// Sound on the private server's sink: some sample well above silence.
bool loud(const QByteArray &s16)
{
    const auto *p = reinterpret_cast<const qint16 *>(s16.constData());
    for (int i = 0; i < s16.size() / 2; ++i)
        if (qAbs(int(p[i])) > 1000)
            return true;
    return false;
}

} // namespace

class ActionsTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    livedevices::StreamingDevice m_a, m_b;
    std::unique_ptr<qwLiveView> m_page;
    testsupport::PulseDaemon m_pulse;
    bool m_pulseUp = false;
    // Whether the page's microphone can be opened.
    std::atomic<bool> m_microphone{true};

    qwVideoshowToolbar *bar(int view) { return m_page->viewToolbar(view); }
    void click(int view, int id) { bar(view)->button(id)->click(); }
    QString captures() { return m_page->localConfig().snapshotpath + "/CaptureFile"; }
    bool opened(int view) { return m_page->viewRecord(view) && m_page->viewRecord(view)->camera; }
    // Both devices in views 0 and 1 (a device's picture needs its first frames).
    bool openBoth()
    {
        for (int row = 0; row < 2; ++row) {
            if (opened(row))
                continue;
            m_page->onPlayviewClick(row);
            m_page->openStream(row);
        }
        return opened(0) && opened(1);
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        // Before any sound output: the views' sound goes to its null sink.
        QString why;
        m_pulseUp = m_pulse.start(&why);
        if (!m_pulseUp)
            qInfo("no private sound server, the sink check is left out: %s", qPrintable(why));
        m_fixture.reset(new testsupport::LivePageFixture);
        QVERIFY(m_fixture->isValid());
        m_a = livedevices::startStreaming("127.0.0.20", "red");
        m_b = livedevices::startStreaming("127.0.0.21", "green");
        QVERIFY(m_a.device && m_b.device);
        QVERIFY(g_database->addDevice(livedevices::record("camA", *m_a.device)) >= 1);
        QVERIFY(g_database->addDevice(livedevices::record("camB", *m_b.device)) >= 1);
        m_page.reset(new qwLiveView);
        m_page->resize(1280, 800);
        m_page->show();
        QTRY_VERIFY_WITH_TIMEOUT(m_page->cameraItem(0)->getStatus() == 2 && m_page->cameraItem(1)->getStatus() == 2,
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(openBoth(), 10000);
    }
    void cleanupTestCase()
    {
        m_page.reset();
        m_a.device.reset();
        m_b.device.reset();
        m_fixture.reset();
    }
    void init()
    {
        g_curUserRights = 511;
        QTRY_VERIFY_WITH_TIMEOUT(openBoth(), 10000);
        testsupport::popupKeys(m_page.get());
        linkTips(m_page.get());
    }

    void deniedRights_data()
    {
        QTest::addColumn<quint32>("missing");
        QTest::addColumn<int>("button"); // a tool-bar button, or 0 for the bar's record button
        QTest::newRow("tool-bar record") << quint32(userrights::ManualRecording) << int(qwVideoshowToolbar::Record);
        QTest::newRow("bar record") << quint32(userrights::ManualRecording) << 0;
        QTest::newRow("snapshot") << quint32(userrights::Snapshot) << int(qwVideoshowToolbar::Snapshot);
    }
    void deniedRights()
    {
        QFETCH(quint32, missing);
        QFETCH(int, button);
        g_curUserRights = 511 & ~missing;
        m_page->onPlayviewClick(0);
        if (button)
            click(1, button);
        else
            m_page->barButton("m_btnRecord")->click();
        // A tool-bar click selects its view first.
        QCOMPARE(m_page->selectedView(), button ? 1 : 0);
        QCOMPARE(testsupport::popupKeys(m_page.get()), QStringList{"tip_permdenied"});
        QVERIFY(!bar(1)->isRecordActive());
        QVERIFY(!m_page->isRecordingAll());
        QVERIFY(!m_page->streamServer()->isRecording());
        QVERIFY(testsupport::filesUnder(captures(), "*.jpg").isEmpty());
    }

    // A start the service refuses shows no recording (tool bar nor bar).
    void refusedStartSetsTheButtonsBack()
    {
        streamfakes::RecorderFactoryScope recorders;
        recorders.configure = [](streamfakes::ScriptedRecorder *r) { r->refuse = true; };
        click(0, qwVideoshowToolbar::Record);
        QVERIFY(!m_page->viewRecord(0)->recording);
        QVERIFY(!bar(0)->isRecordActive());
        m_page->barButton("m_btnRecord")->click();
        QVERIFY(!m_page->isRecordingAll());
        QVERIFY(!m_page->barButton("m_btnRecord")->isLocked());
    }

    // A manual recording that ends by itself clears its flag, so closing the
    // view later leaves the device's next recording alone.
    void finishedManualRecordingClearsItsFlag()
    {
        streamfakes::RecorderFactoryScope recorders;
        click(1, qwVideoshowToolbar::Record);
        QVERIFY(m_page->viewRecord(1)->recording);
        // Its length is over.
        QTRY_VERIFY(!recorders.made.isEmpty());
        recorders.made.last()->stopFlag = true;
        QTRY_VERIFY_WITH_TIMEOUT(!bar(1)->isRecordActive(), 5000);
        QVERIFY(!m_page->viewRecord(1)->recording);
        QTRY_VERIFY(!m_page->streamServer()->isRecording());
        // A timing recording of the device runs now; closing the view keeps it.
        QVERIFY(m_page->streamServer()
                    ->unitFor("127.0.0.21")
                    ->startRecord(m_page->streamServer()->recordRoot(),
                                  m_page->streamServer()->buildRecordPath("127.0.0.21", 26), 26, 1, 60, 0, 0, true));
        m_page->closeView(1);
        QVERIFY(m_page->streamServer()->isRecording());
        QVERIFY(!recorders.made.last()->stopFlag);
        m_page->streamServer()->stopRecord("127.0.0.21");
        QTRY_VERIFY(!m_page->streamServer()->isRecording());
    }

    // A manual recording whose file is cut (where the date changes, or the
    // stream's time jumps) goes on in its next file: that file is announced,
    // the button stays on until the operator stops it. One that records
    // nothing sets the button back and says so.
    // (View 0: the last case's timing recording of view 1's device may
    // still report its end.)
    void cutManualRecordingGoesOn()
    {
        streamfakes::RecorderFactoryScope recorders;
        recorders.configure = [&recorders](streamfakes::ScriptedRecorder *r) {
            if (recorders.made.isEmpty())
                r->interruptAt = 7;
        };
        click(0, qwVideoshowToolbar::Record);
        QVERIFY(m_page->viewRecord(0)->recording);
        // The next file starts on a tick of the service.
        QTRY_COMPARE_WITH_TIMEOUT(recorders.made.size(), 2, 5000);
        QCOMPARE(recorders.made.at(1)->kind, 28);
        QCOMPARE(recorders.made.at(1)->sequence, 7);
        // The first file is announced.
        QStringList tips;
        QTRY_VERIFY(!(tips << linkTips(m_page.get())).isEmpty());
        QCOMPARE(tips.size(), 1);
        QVERIFY(bar(0)->isRecordActive());
        QVERIFY(m_page->viewRecord(0)->recording);
        QVERIFY(m_page->streamServer()->isRecording());
        click(0, qwVideoshowToolbar::Record);
        QTRY_VERIFY(!m_page->streamServer()->isRecording());
        QVERIFY(!bar(0)->isRecordActive());
        QCOMPARE(recorders.made.size(), 2);
        // The stop announces the second file.
        QTRY_VERIFY((tips << linkTips(m_page.get())).size() == 2);
    }
    // An alarm recording whose file is cut goes on too: the view shows it
    // recording until its last file ends, and announces none of its files.
    void cutAlarmRecordingStaysShown()
    {
        streamfakes::RecorderFactoryScope recorders;
        recorders.configure = [&recorders](streamfakes::ScriptedRecorder *r) {
            if (recorders.made.isEmpty())
                r->interruptAt = 7;
        };
        qcStreamServer *server = m_page->streamServer();
        const QString address = m_page->viewRecord(0)->device->address;
        QSignalSpy results(server, &qcStreamServer::sigRecordResult);
        // Ended, and its end seen by the page, whatever fails: the next cases
        // find no recording and hear no late end.
        const auto stop = qScopeGuard([&] {
            server->stopRecord(address);
            (void)QTest::qWaitFor([&] { return results.count() >= 2; }, 5000);
            QCoreApplication::sendPostedEvents();
        });
        QVERIFY(server->unitFor(address)->startRecord(server->recordRoot(), server->buildRecordPath(address, 27), 27, 1,
                                                      60, 0, 0, true));
        m_page->onScheduleRecord(address);
        QVERIFY(bar(0)->recordingLabel()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(recorders.made.size(), 2, 5000);
        QCOMPARE(recorders.made.at(1)->kind, 27);
        // The cut file's end, posted to the page before the spy heard it.
        QTRY_COMPARE(results.count(), 1);
        QCoreApplication::sendPostedEvents();
        QVERIFY(bar(0)->recordingLabel()->isVisible());
        QVERIFY(server->stopRecord(address));
        QTRY_VERIFY(!bar(0)->recordingLabel()->isVisible());
        QVERIFY(linkTips(m_page.get()).isEmpty());
    }
    void manualRecordingOfNothingIsTold()
    {
        streamfakes::RecorderFactoryScope recorders;
        recorders.configure = [](streamfakes::ScriptedRecorder *r) { r->recordsNothing = true; };
        click(0, qwVideoshowToolbar::Record);
        QTRY_VERIFY_WITH_TIMEOUT(!bar(0)->isRecordActive(), 5000);
        QVERIFY(!m_page->viewRecord(0)->recording);
        QCOMPARE(testsupport::popupKeys(m_page.get()), QStringList{"tip_recordnothing"});
    }

    void recordAllAndStopAll()
    {
        m_page->barButton("m_btnRecord")->click();
        QVERIFY(m_page->isRecordingAll());
        QCOMPARE(m_page->barButton("m_btnRecord")->status(), 1);
        QVERIFY(bar(0)->isRecordActive() && bar(1)->isRecordActive());
        QTest::qWait(1500);
        m_page->barButton("m_btnRecord")->click();
        QVERIFY(!m_page->isRecordingAll());
        QVERIFY(!m_page->barButton("m_btnRecord")->isLocked());
        // Both files are announced at once, each tip in sight and its path
        // readable.
        QList<qwTipsdlgEx *> shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown = pathTips(m_page.get())).size() == 2 && testsupport::tipsApart(shown), 10000);
        for (const qwTipsdlgEx *tip : qAsConst(shown)) {
            const QString why = testsupport::unreadablePath(tip);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
        QStringList tips;
        QTRY_VERIFY_WITH_TIMEOUT((tips << linkTips(m_page.get())).size() == 2, 10000);
        m_page->barButton("m_btnStop")->click();
        QVERIFY(m_page->viewRecords().isEmpty());
        // With no view the record button changes nothing.
        m_page->barButton("m_btnRecord")->click();
        QVERIFY(!m_page->isRecordingAll());
        // Play all fills the views from the page's first.
        m_page->onPlayviewClick(1);
        QTRY_VERIFY_WITH_TIMEOUT((m_page->barButton("m_btnPlay")->click(), opened(0) && opened(1)), 10000);
        QCOMPARE(m_page->viewRecord(0)->device->address, QString("127.0.0.20"));
    }

    void snapshots()
    {
        // The bar's button takes one picture of every playing view.
        m_page->onBtnSnapshotClick();
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::filesUnder(captures(), "PICV1_MANUAL_*").size(), 2, 5000);
        QCOMPARE(testsupport::filesUnder(captures() + "/" + QDate::currentDate().toString("yyyyMMdd") + "/127.0.0.21",
                                         "*.jpg")
                     .size(),
                 1);
    }

    // A view whose device delivers no video takes no picture: the click
    // is told at once by a tip and leaves no file.
    void snapshotOfAGoneCamera()
    {
        const int before = testsupport::filesUnder(captures(), "*").size();
        qcCameraUtil *camera = m_page->viewRecord(1)->camera;
        camera->onPlayState(6);
        click(1, qwVideoshowToolbar::Snapshot);
        QCOMPARE(testsupport::popupKeys(m_page.get()), QStringList{"tip_snapshotnovideo"});
        QCOMPARE(testsupport::filesUnder(captures(), "*").size(), before);
        QVERIFY(linkTips(m_page.get()).isEmpty());
        camera->onPlayState(5);
        // Back: the next picture is stored, and ends what the log was told.
        click(1, qwVideoshowToolbar::Snapshot);
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::filesUnder(captures(), "*").size(), before + 1, 5000);
        QVERIFY(testsupport::popupKeys(m_page.get()).isEmpty());
    }

    void zoom()
    {
        qcCameraUtil *camera = m_page->viewRecord(0)->camera;
        click(0, qwVideoshowToolbar::Zoom);
        QVERIFY(camera->zoomSelecting());
        QVERIFY(bar(0)->isZoomActive());
        emit camera->sigZoomResult(false);
        QVERIFY(!bar(0)->isZoomActive());
        click(0, qwVideoshowToolbar::Zoom);
        click(0, qwVideoshowToolbar::Zoom);
        QVERIFY(!camera->zoomSelecting());
    }

    // One view through the speaker button and the slider, row after row:
    // the stored volume, the slider, the button shown and the player's sound.
    void speakerButton_data()
    {
        // A bar button, empty for the slider set at once, "drag" for its
        // handle, "wheel" / "keys" / "wheel and keys" for steps, "leave" for
        // the pointer leaving the slider.
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("slider"); // the value the slider is moved to
        QTest::addColumn<int>("volume"); // the view's volume afterwards
        QTest::newRow("on from 0") << "m_btnSpeakerOff" << 0 << 50;
        QTest::newRow("off") << "m_btnSpeakerOn" << 0 << 0;
        QTest::newRow("on again") << "m_btnSpeakerOff" << 0 << 50;
        QTest::newRow("slider to 70") << QString() << 70 << 70;
        QTest::newRow("slider to 0") << QString() << 0 << 0;
        QTest::newRow("on again at the slider's last volume") << "m_btnSpeakerOff" << 0 << 70;
        QTest::newRow("dragged to 0") << "drag" << 0 << 0;
        QTest::newRow("on again at the volume the drag began at") << "m_btnSpeakerOff" << 0 << 70;
        QTest::newRow("slider to 30") << QString() << 30 << 30;
        QTest::newRow("pointer off the slider") << "leave" << 30 << 30;
        QTest::newRow("wheel to 0") << "wheel" << 0 << 0;
        QTest::newRow("on again at the volume the wheel began at") << "m_btnSpeakerOff" << 0 << 30;
        QTest::newRow("keys to 0") << "keys" << 0 << 0;
        QTest::newRow("on again at the volume the keys began at") << "m_btnSpeakerOff" << 0 << 30;
        QTest::newRow("wheel and keys to 0") << "wheel and keys" << 0 << 0;
        QTest::newRow("on again at the volume the steps began at") << "m_btnSpeakerOff" << 0 << 30;
    }
    void speakerButton()
    {
        QFETCH(QString, press);
        QFETCH(int, slider);
        QFETCH(int, volume);
        // View 1 has had no sound before the first row.
        m_page->onPlayviewClick(1);
        QSlider *volumeSlider = m_page->volumeSlider();
        if (press.isEmpty()) {
            volumeSlider->setValue(slider);
        } else if (press == "drag") {
            // Through every value on the way, as a mouse drags it.
            volumeSlider->setSliderDown(true);
            for (int v = volumeSlider->value(); v != slider; v += v < slider ? 1 : -1)
                volumeSlider->setSliderPosition(v);
            volumeSlider->setSliderPosition(slider);
            volumeSlider->setSliderDown(false);
        } else if (press == "leave") {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(volumeSlider, &leave);
        } else if (press.startsWith("wheel") || press == "keys") {
            // Notch by notch, then arrow and page keys in turn.
            for (int notches = press == "keys" ? 0 : press == "wheel" ? 100 : 2; notches > 0; --notches) {
                const QPoint at = volumeSlider->rect().center();
                QWheelEvent wheel(at, volumeSlider->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                                  Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(volumeSlider, &wheel);
                if (volumeSlider->value() <= slider)
                    break;
            }
            for (int key = 0; volumeSlider->value() > slider && key < 100; ++key)
                QTest::keyClick(volumeSlider, key % 2 ? Qt::Key_PageDown : Qt::Key_Down);
        } else
            m_page->barButton(press.toLatin1().constData())->click();
        QCOMPARE(m_page->viewVolume(1), volume);
        QCOMPARE(m_page->volumeSlider()->value(), volume);
        QCOMPARE(m_page->barButton("m_btnSpeakerOn")->isVisibleTo(m_page.get()), volume > 0);
        QCOMPARE(m_page->barButton("m_btnSpeakerOff")->isVisibleTo(m_page.get()), volume == 0);
        CLivePlayer *player = m_page->viewRecord(1)->camera->player();
        QVERIFY(player);
        if (volume == 0) {
            QVERIFY(!player->audioRequested());
            return;
        }
        QCOMPARE(player->volume(), volume);
        // Without a sound server the player gives up its output again.
        if (m_pulseUp)
            QTRY_VERIFY_WITH_TIMEOUT(player->hasAudioOutput() && player->audioRequested(), 10000);
    }

    // Talking is shown only for a talk that started: a start without a
    // microphone (nothing would reach the device) leaves the button off; a
    // talk the device does not take or drops switches it back; each is told
    // by one tip and one abnormal event. A microphone plugged in meanwhile
    // is opened by the next start.
    void talkEndsSwitchTheButtonBack_data()
    {
        QTest::addColumn<bool>("microphone");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("closeAfter");
        QTest::addColumn<QString>("tip");
        const int ok = int(devicesim::TalkSink::Answer::Ok);
        QTest::newRow("no microphone") << false << ok << 0 << "nomicrophone";
        QTest::newRow("not taken") << true << int(devicesim::TalkSink::Answer::Http11) << 0 << "talkfailed";
        QTest::newRow("dropped by the device") << true << ok << 5 << "talkdropped";
    }
    void talkEndsSwitchTheButtonBack()
    {
        QFETCH(bool, microphone);
        QFETCH(int, answer);
        QFETCH(int, closeAfter);
        QFETCH(QString, tip);
        // Read beside the log thread, which writes them a moment later.
        auto talkEvents = [this] {
            return testsupport::abnormalEvents(m_fixture->logFile()).filter(QRegularExpression("^talk "));
        };
        const int told = talkEvents().size();
        m_microphone = microphone;
        m_page->streamServer()->setMicrophoneFactory(
            [this] { return new qcAudioCapture(nullptr, std::make_unique<streamfakes::PluggedTone>(&m_microphone)); });
        m_a.protocols.talk->setAnswer(devicesim::TalkSink::Answer(answer));
        m_a.protocols.talk->setCloseAfter(closeAfter);
        m_page->onPlayviewClick(0);
        testsupport::popupKeys(m_page.get());
        m_page->barButton("m_btnMicOff")->click();
        QCOMPARE(m_page->barButton("m_btnMicOn")->isVisibleTo(m_page.get()), microphone);
        QTRY_VERIFY_WITH_TIMEOUT(m_page->barButton("m_btnMicOff")->isVisibleTo(m_page.get()), 15000);
        const QStringList keys = testsupport::popupKeys(m_page.get());
        QCOMPARE(keys, QStringList{"tip_" + tip});
        QTRY_COMPARE_WITH_TIMEOUT(talkEvents().size(), told + 1, 5000);
        const QStringList events = talkEvents();
        QVERIFY2(events.last().startsWith(QString(closeAfter ? "talk ended|" : "talk failed|") + "127.0.0.20|"),
                 qPrintable(events.last()));
        QCOMPARE(m_a.protocols.talk->record().connections, microphone ? 1 : 0);
        m_a.protocols.talk->setAnswer(devicesim::TalkSink::Answer::Ok);
        m_a.protocols.talk->setCloseAfter(0);
        m_a.protocols.talk->reset();
        m_microphone = true;
    }

    void soundAndTalk()
    {
        m_page->onPlayviewClick(0);
        QSlider *slider = m_page->volumeSlider();
        slider->setValue(30);
        QCOMPARE(m_page->viewVolume(0), 30);
        if (m_pulseUp) {
            QProcess parec;
            parec.setProcessEnvironment(m_pulse.environment());
            parec.start("parec", {"-d", "testout.monitor", "--raw", "--format=s16le", "--rate=8000", "--channels=1"});
            QVERIFY(parec.waitForStarted(5000));
            QByteArray heard;
            QTRY_VERIFY_WITH_TIMEOUT(loud(heard += parec.readAllStandardOutput()), 10000);
            parec.terminate();
            parec.waitForFinished(3000);
        }
        QVERIFY(m_page->barButton("m_btnSpeakerOn")->isVisibleTo(m_page.get()));
        // Off then on with the button alone brings the slider's volume back.
        m_page->barButton("m_btnSpeakerOn")->click();
        m_page->barButton("m_btnSpeakerOff")->click();
        QCOMPARE(m_page->viewVolume(0), 30);
        QCOMPARE(slider->value(), 30);
        QVERIFY(m_page->barButton("m_btnSpeakerOn")->isVisibleTo(m_page.get()));

        m_page->streamServer()->setMicrophoneFactory(
            [] { return new qcAudioCapture(nullptr, std::make_unique<ToneAudioInput>()); });
        m_page->barButton("m_btnMicOff")->click();
        QVERIFY(m_page->barButton("m_btnMicOn")->isVisibleTo(m_page.get()));
        QTRY_VERIFY_WITH_TIMEOUT(m_a.protocols.talk->record().frames > 0, 5000);
        m_page->onPlayviewClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(m_a.protocols.talk->record().peerClosed, 5000);
        QVERIFY(m_page->barButton("m_btnMicOff")->isVisibleTo(m_page.get()));
    }

    // A user given only the PTZ and snapshot rights takes pictures, and is
    // refused manual recording on the view's tool bar and on the page's bar.
    void ptzAndSnapshotOnly()
    {
        g_curUserRights = userrights::PtzControl | userrights::Snapshot;
        const int before = testsupport::filesUnder(captures(), "*.jpg").size();
        click(1, qwVideoshowToolbar::Snapshot);
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::filesUnder(captures(), "*.jpg").size(), before + 1, 5000);
        QVERIFY(!testsupport::popupKeys(m_page.get()).contains("tip_permdenied"));
        click(1, qwVideoshowToolbar::Record);
        QCOMPARE(testsupport::popupKeys(m_page.get()), QStringList{"tip_permdenied"});
        m_page->barButton("m_btnRecord")->click();
        QCOMPARE(testsupport::popupKeys(m_page.get()), QStringList{"tip_permdenied"});
        QVERIFY(!bar(1)->isRecordActive());
        QVERIFY(!m_page->isRecordingAll());
        QVERIFY(!m_page->streamServer()->isRecording());
    }
};

QTEST_MAIN(ActionsTest)
#include "tst_actions.moc"
