#include "liveview/qcliveactions.h"

#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/statusbutton.h"
#include "app/widgets/userrights.h"
#include "liveview/livegrid.h"
#include "liveview/livetext.h"
#include "liveview/qclivealarms.h"
#include "liveview/qwalarmeventmanane.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwliveview.h"
#include "liveview/qwvideoshowtoolbar.h"
#include "media/capturefile.h"
#include "media/qccamerautil.h"
#include "media/qcstreamserver.h"
#include "media/recordfolders.h"
#include "media/talklog.h"

#include <QEvent>
#include <QLayout>
#include <QSlider>

namespace {
constexpr int kManual = 28;
} // namespace

qcLiveActions::qcLiveActions(qwLiveView *page) : QObject(page), m_page(page) {}

QString qcLiveActions::captureRoot() const
{
    return recordfolders::captureRoot(m_page->m_localConfig.snapshotpath);
}

_st_view_item *qcLiveActions::recordOfView(int index) const
{
    return m_page->viewRecord(index);
}

_st_view_item *qcLiveActions::recordOfAddress(const QString &ipaddr) const
{
    for (_st_view_item *record : qAsConst(m_page->m_viewRecords))
        if (record->device && record->device->address == ipaddr)
            return record;
    return nullptr;
}

void qcLiveActions::setRecordButtonIdle()
{
    m_page->m_btnRecord->setStatus(false, 0);
}

void qcLiveActions::toolbarButton(int index, int btnid, int status)
{
    qwCstmVideoview *v = m_page->view(index);
    QLayout *layout = v ? v->layout() : nullptr;
    QWidget *video = layout && layout->count() > 1 ? layout->itemAt(1)->widget() : nullptr;
    m_page->onPlayviewClick(index);
    if (!video)
        return;
    _st_view_item *record = recordOfView(index);
    qwVideoshowToolbar *bar = m_page->viewToolbar(index);
    qcStreamServer *server = m_page->m_streamServer;
    switch (btnid) {
    case qwVideoshowToolbar::Zoom:
        for (_st_view_item *r : qAsConst(m_page->m_viewRecords))
            if (r->view == index && r->camera)
                r->camera->setZoomEnabled(status == 0);
        break;
    case qwVideoshowToolbar::Snapshot:
        if (!m_page->hasRight(userrights::Snapshot))
            return;
        if (record && record->camera && record->device)
            record->camera->snapshot(captureRoot(), record->device->address);
        break;
    case qwVideoshowToolbar::Record:
        if (!m_page->hasRight(userrights::ManualRecording)) {
            // The bar switched its look already; a denied start must not show.
            if (bar && status == 0)
                bar->setButtonState(qwVideoshowToolbar::Record, false);
            return;
        }
        if (record && record->device && server) {
            if (status == 0) {
                // A refused start must not show a recording that does not exist.
                record->recording = server->startRecord(record->device->address, m_page->m_localConfig.prevrecord);
                if (!record->recording) {
                    if (bar)
                        bar->setButtonState(qwVideoshowToolbar::Record, false);
                    livetext::showFailureTip(m_page, "recordnothing");
                }
            } else {
                server->stopRecord(record->device->address);
                record->recording = false;
            }
        }
        if (!server || !server->isRecording())
            setRecordButtonIdle();
        break;
    case qwVideoshowToolbar::Stop:
        m_page->closeView(index);
        break;
    default:
        break;
    }
}

void qcLiveActions::zoomResult(QObject *camera)
{
    for (_st_view_item *record : qAsConst(m_page->m_viewRecords))
        if (record->camera && record->camera == camera)
            if (qwVideoshowToolbar *bar = m_page->viewToolbar(record->view))
                bar->setButtonState(qwVideoshowToolbar::Zoom, false);
}

void qcLiveActions::playAll()
{
    m_page->onPlayviewClick(m_page->m_page * m_page->m_viewsPerPage);
    for (int row = 0; row < m_page->m_devCount; ++row)
        m_page->openStream(row);
}

void qcLiveActions::stopAll()
{
    if (m_page->m_recordAll)
        recordAll();
    const QList<_st_view_item *> records = m_page->m_viewRecords;
    for (_st_view_item *record : records) {
        if (record->recording && record->device && m_page->m_streamServer)
            m_page->m_streamServer->stopRecord(record->device->address);
        record->recording = false;
        m_page->closeView(record->view);
    }
}

void qcLiveActions::snapshotAll()
{
    if (!m_page->hasRight(userrights::Snapshot))
        return;
    for (_st_view_item *record : qAsConst(m_page->m_viewRecords))
        if (record->camera && record->device)
            record->camera->snapshot(captureRoot(), record->device->address);
}

void qcLiveActions::recordAll()
{
    if (!m_page->hasRight(userrights::ManualRecording))
        return;
    qcStreamServer *server = m_page->m_streamServer;
    m_page->m_recordStarted = 0;
    const bool starting = !m_page->m_recordAll;
    for (_st_view_item *record : qAsConst(m_page->m_viewRecords)) {
        if (!record->device || !server)
            continue;
        qwVideoshowToolbar *bar = m_page->viewToolbar(record->view);
        if (starting) {
            // Only starts that took count: a refused one shows nothing.
            if (!server->startRecord(record->device->address, 0))
                continue;
            ++m_page->m_recordStarted;
            if (bar)
                bar->setButtonState(qwVideoshowToolbar::Record, true);
        } else {
            server->stopRecord(record->device->address);
            if (bar)
                bar->setButtonState(qwVideoshowToolbar::Record, false);
        }
    }
    if (starting ? m_page->m_recordStarted > 0 : !m_page->m_viewRecords.isEmpty()) {
        m_page->m_recordAll = starting;
        m_page->m_btnRecord->setStatus(starting, starting ? 1 : 0);
    }
}

void qcLiveActions::showSound(bool on)
{
    m_page->m_btnSpeakerOn->setVisible(on);
    m_page->m_btnSpeakerOff->setVisible(!on);
}

void qcLiveActions::showTalk(bool on)
{
    m_page->m_btnMicOn->setVisible(on);
    m_page->m_btnMicOff->setVisible(!on);
}

void qcLiveActions::speaker(QObject *button)
{
    const int index = m_page->m_selectedView;
    _st_view_item *record = recordOfView(index);
    const bool switchOn = button == m_page->m_btnSpeakerOff;
    showSound(switchOn);
    const bool blocked = m_page->m_volumeSlider->blockSignals(true);
    if (switchOn) {
        // A view at 0 comes back at its last audible volume: "sound on" must play.
        const int volume = m_page->m_viewVolume.switchOn(index);
        if (record)
            m_page->setCameraAudio(record, volume);
        m_page->m_volumeSlider->setValue(volume);
    } else {
        if (record)
            m_page->setCameraAudio(record, 0);
        m_page->m_volumeSlider->setValue(0);
        m_page->m_viewVolume.switchOff(index);
    }
    m_page->m_volumeSlider->blockSignals(blocked);
}

void qcLiveActions::volume(int value)
{
    const int index = m_page->m_selectedView;
    _st_view_item *record = recordOfView(index);
    if (index < 0 || index >= livegrid::kMaxViews || !record)
        return;
    m_page->setCameraAudio(record, value);
    showSound(value > 0);
    m_page->m_viewVolume.set(index, value);
}

bool qcLiveActions::eventFilter(QObject *watched, QEvent *event)
{
    // Steps of the wheel or the keys come one by one; the pointer or the
    // focus leaving the slider is what ends their run.
    if (watched == m_page->m_volumeSlider && (event->type() == QEvent::Leave || event->type() == QEvent::FocusOut))
        m_page->m_viewVolume.endSteps();
    return QObject::eventFilter(watched, event);
}

void qcLiveActions::microphone(QObject *button)
{
    const bool switchOn = button == m_page->m_btnMicOff;
    _st_view_item *record = recordOfView(m_page->m_selectedView);
    qcStreamServer *server = m_page->m_streamServer;
    const bool withDevice = record && record->device && server;
    // Talking is shown only for a talk that started; one that cannot start
    // is told by the service (talkEnded).
    if (!switchOn) {
        showTalk(false);
        if (withDevice)
            server->stopIntercom(record->device->address);
        return;
    }
    showTalk(withDevice && server->startIntercom(record->device->address));
}

void qcLiveActions::talkEnded(const QString &ipaddr, int end)
{
    _st_view_item *record = recordOfView(m_page->m_selectedView);
    if (record && record->device && record->device->address == ipaddr)
        showTalk(false);
    livetext::showFailureTip(m_page, end == talklog::NoMicrophone ? "nomicrophone"
                                     : end == talklog::Dropped    ? "talkdropped"
                                                                  : "talkfailed");
}

void qcLiveActions::openAlarmWindow()
{
    auto *window = new qwAlarmEventManane(m_page);
    for (const _st_alarm_item &a : m_page->m_liveAlarms->alarms())
        window->addAlarmRecord(a.ipaddr, a.devname, a.type, a.action, a.file, a.time);
    connect(window, &qwAlarmEventManane::sigClearAlarmHistory, m_page, &qwLiveView::onClearAlarmList);
    connect(m_page, &qwLiveView::sigDeviceTriggerAlarm, window, &qwAlarmEventManane::OnNewAlarmTriggered);
    window->show();
}

void qcLiveActions::recordSnapshot(QObject *sender, const QString &ipaddr, const QString &filepath, int type)
{
    qcStreamServer *server = m_page->m_streamServer;
    if (sender && sender == server && m_page->m_recordAll && !server->isRecording()) {
        setRecordButtonIdle();
        m_page->m_recordAll = false;
    }
    // A manual or alarm recording whose file was cut (a change of the date)
    // goes on in its next file: a manual file is announced, the view still
    // shows the recording.
    const bool goesOn = sender && sender == server && server->recordingGoesOn(ipaddr, type);
    _st_view_item *record = goesOn ? nullptr : recordOfAddress(ipaddr);
    // A recording the view's button still shows that recorded nothing: the
    // operator clicked for a file there is none of (a stop clicked before
    // the first picture leaves the flag clear).
    const bool failed = type == kManual && filepath.isEmpty() && record && record->recording;
    if (record) {
        if (qwVideoshowToolbar *bar = m_page->viewToolbar(record->view)) {
            bar->showRecording(false);
            bar->setButtonState(qwVideoshowToolbar::Record, false);
        }
        // The button is off, so is the flag: closing the view later must not
        // stop whatever recording of the device runs then.
        record->recording = false;
    }
    if (failed)
        livetext::showFailureTip(m_page, "recordnothing");
    // The recorder names no file when nothing was recorded.
    if (type != kManual || filepath.isEmpty())
        return;
    auto *tip = new qwTipsdlgEx(m_page, qwTipsdlgEx::FilePath);
    tip->setTipText(filepath);
    tip->show();
}

void qcLiveActions::snapshotFailed(int error)
{
    // The system log has it already; the operator who clicked hears it now.
    livetext::showFailureTip(m_page, error == capturefile::kNoPicture ? "snapshotnovideo"
                                     : capturefile::noRoom(error)     ? "snapshotdiskfull"
                                                                      : "snapshotnotstored");
}

void qcLiveActions::scheduleRecord(const QString &ipaddr)
{
    if (_st_view_item *record = recordOfAddress(ipaddr))
        if (qwVideoshowToolbar *bar = m_page->viewToolbar(record->view))
            bar->showRecording(true);
}

void qcLiveActions::stopViewRecording(_st_view_item *record)
{
    if (record->recording && record->device && m_page->m_streamServer)
        m_page->m_streamServer->stopRecord(record->device->address);
    record->recording = false;
}
