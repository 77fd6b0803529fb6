#include "media/qcstreamserver.h"

#include "app/cgiutil.h"
#include "device/qcaudiocapture.h"
#include "media/qcstreamutil.h"
#include "platform/clock.h"

#include <QDebug>
#include <QDir>
#include <QTimerEvent>

namespace {

const char kProbeUrl[] = "http://%1:%2/action/get?subject=systime";
const char kClockUrl[] = "http://%1:%2/action/set?subject=systime";
const char kClockBody[] = "<request><systime><mode>0</mode><datetime>%1</datetime><dst><active>0</active></dst>"
                          "</systime></request>";
constexpr int kPollAfterTicks = 20;

bool inRange(int value, int low, int high)
{
    return value >= low && value <= high;
}

} // namespace

qcStreamServer::qcStreamServer()
{
    // Both timers move with the object to the service thread.
    m_tickTimer = startTimer(kTickMs);
    m_clockTimer = startTimer(kClockRunMs);
}

qcStreamServer::~qcStreamServer()
{
    shutdown();
}

void qcStreamServer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_tickTimer)
        tick();
    else if (event->timerId() == m_clockTimer)
        clockRun();
}

qcStreamUtil *qcStreamServer::findLocked(const QString &ip) const
{
    for (qcStreamUtil *unit : m_units)
        if (unit->address() == ip)
            return unit;
    return nullptr;
}

void qcStreamServer::tick()
{
    if (m_shutDown)
        return;
    bool poll = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_pollCounter > kPollAfterTicks) {
            m_pollCounter = 0;
            poll = true;
        }
    }
    if (poll)
        pollDevices();
    {
        QMutexLocker lock(&m_mutex);
        ++m_pollCounter;
    }
    createOwnedServices();
    QMutexLocker lock(&m_mutex);
    // A unit that cannot start is simply tried again on the next tick.
    for (qcStreamUtil *unit : qAsConst(m_units))
        if (unit->needsStart())
            unit->start();
}

void qcStreamServer::createOwnedServices()
{
    // The alarm channel server, the disk guard and the snapshot scheduler are
    // created here, in that order, once they exist in the program.
}

int qcStreamServer::addDevice(const QString &ip, const QString &port, const QString &name, const QString &user,
                              const QString &password, const QString &type, qint64 index)
{
    QMutexLocker lock(&m_mutex);
    if (m_shutDown || findLocked(ip))
        return -1;
    auto *unit = new qcStreamUtil;
    unit->setParams(ip, port, name, user, password, m_nextContextId, index, type);
    connect(unit, &qcStreamUtil::sigMetaChange, this, &qcStreamServer::onDeviceMetaInfoChange, Qt::QueuedConnection);
    connect(unit, &qcStreamUtil::sigRecordCompleted, this, &qcStreamServer::sigRecordResult, Qt::DirectConnection);
    m_units.append(unit);
    return m_nextContextId++;
}

void qcStreamServer::deleteUnits(const QList<qcStreamUtil *> &units)
{
    for (qcStreamUtil *unit : units) {
        unit->shutdown();
        delete unit;
    }
}

bool qcStreamServer::removeDevice(const QString &ip)
{
    QList<qcStreamUtil *> removed;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_units.begin(); it != m_units.end();) {
            if ((*it)->address() == ip) {
                removed.append(*it);
                it = m_units.erase(it);
            } else {
                ++it;
            }
        }
        if (m_alarmServer)
            emit sigAlarmRemoveDevice(ip);
    }
    // Stopping the clients, the talk and the recorder takes a while; the
    // device list is free meanwhile.
    deleteUnits(removed);
    return !removed.isEmpty();
}

bool qcStreamServer::modifyDevice(qint64 index, const QString &ip, const QString &port, const QString &name,
                                  const QString &user, const QString &password)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = nullptr;
    for (qcStreamUtil *u : qAsConst(m_units))
        if (u->deviceIndex() == index) {
            unit = u;
            break;
        }
    if (!unit)
        return false;
    // Two units with one address would make every lookup find the first.
    for (qcStreamUtil *u : qAsConst(m_units))
        if (u != unit && u->address() == ip)
            return false;
    unit->setParams(ip, port, name, user, password, unit->contextId(), index, unit->deviceType());
    unit->restart();
    // Nothing is known about the device at its new address until it answers.
    unit->setOnline(false);
    emit sigDeviceStatus(ip, 3);
    if (m_alarmServer)
        emit sigAlarmModifyDevice(ip, port, user, password, index);
    return true;
}

bool qcStreamServer::getStreamInfo(const QString &ip, int stream, VideoInfo *video, AudioInfo *audio, quint8 *decoder)
{
    if (!video || !audio)
        return false;
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = findLocked(ip);
    if (!unit)
        return false;
    if (stream != 0 && stream != 1)
        return true;
    const MediaInfo_t mi = stream == 0 ? unit->getMainMediaInfo() : unit->getSubMediaInfo();
    *video = VideoInfo{mi.videoCodec, mi.width, mi.height, mi.frameRate};
    *audio = AudioInfo{mi.audioCodec, mi.audioRate, mi.channels};
    if (decoder)
        *decoder = quint8(mi.decoder);
    return true;
}

qcFrameBuffer *qcStreamServer::getMainFrameBuffer(const QString &ip)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = findLocked(ip);
    return unit ? unit->viewerFrameBuffer(0) : nullptr;
}

qcFrameBuffer *qcStreamServer::getSubFrameBuffer(const QString &ip)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = findLocked(ip);
    return unit ? unit->viewerFrameBuffer(1) : nullptr;
}

bool qcStreamServer::isRecording()
{
    QMutexLocker lock(&m_mutex);
    for (qcStreamUtil *unit : qAsConst(m_units))
        if (unit->isRecording())
            return true;
    return false;
}

void qcStreamServer::onDeviceMetaInfoChange(int ctxid, int stream)
{
    qDebug() << "-------------Meta changed!-------------";
    QMutexLocker lock(&m_mutex);
    for (qcStreamUtil *unit : qAsConst(m_units)) {
        if (unit->contextId() != ctxid)
            continue;
        // A record file holds one format.
        if (unit->isRecording())
            unit->stopRecord(false);
        emit sigDeviceMetainfoChange(unit->address(), stream);
        break;
    }
}

bool qcStreamServer::setLocalConfig(const QString &recordPath, const QString &snapshotPath, int recordDuration,
                                    int prevRecord, int postRecord, int recordStream, int reservedSize, int keepDays,
                                    int captureCount, int captureInterval)
{
    if (!inRange(recordDuration, 60, 600) || !inRange(prevRecord, 0, 3) || !inRange(postRecord, 0, 3) ||
        !inRange(recordStream, 0, 1) || !inRange(reservedSize, 0, 50) || !inRange(keepDays, 0, 365) ||
        !inRange(captureCount, 1, 10) || !inRange(captureInterval, 1, 30))
        return false;
    const QString recordDir = recordPath + "/RecordFile";
    const QString captureDir = snapshotPath + "/CaptureFile";
    const bool made = QDir().mkpath(recordDir) && QDir().mkpath(captureDir);
    if (!made)
        qWarning() << "recording and snapshot folders cannot be made under" << recordPath << "and" << snapshotPath
                   << "; nothing will be recorded";
    QMutexLocker lock(&m_mutex);
    m_recordDuration = recordDuration;
    m_prevRecord = prevRecord;
    m_postRecord = postRecord;
    m_recordStream = recordStream;
    m_captureCount = captureCount;
    m_captureInterval = captureInterval;
    m_reservedSize = reservedSize;
    m_keepDays = keepDays;
    m_recordRoot = made ? recordDir : QString();
    m_captureRoot = made ? captureDir : QString();
    return true;
}

QString qcStreamServer::recordRoot()
{
    QMutexLocker lock(&m_mutex);
    return m_recordRoot;
}

QString qcStreamServer::captureRoot()
{
    QMutexLocker lock(&m_mutex);
    return m_captureRoot;
}

int qcStreamServer::pollCounter()
{
    QMutexLocker lock(&m_mutex);
    return m_pollCounter;
}

int qcStreamServer::recordDuration()
{
    QMutexLocker lock(&m_mutex);
    return m_recordDuration;
}

qcStreamUtil *qcStreamServer::unitFor(const QString &ip)
{
    QMutexLocker lock(&m_mutex);
    return findLocked(ip);
}

int qcStreamServer::requestCount()
{
    QMutexLocker lock(&m_mutex);
    int n = 0;
    for (CGIUtil *request : m_requests)
        n += request != nullptr;
    return n;
}

QList<CGIUtil *> qcStreamServer::takeRequestsLocked()
{
    QList<CGIUtil *> taken;
    for (CGIUtil *&request : m_requests) {
        if (request)
            taken.append(request);
        request = nullptr;
    }
    return taken;
}

void qcStreamServer::stopRequests(const QList<CGIUtil *> &requests)
{
    // abort() ends a transfer promptly; ask them all before waiting for any.
    for (CGIUtil *request : requests)
        request->abort();
    for (CGIUtil *request : requests) {
        if (!request->wait(200))
            qDebug() << "----device request" << request->id() << "still running after 200 ms----";
        request->wait();
        delete request;
    }
}

int qcStreamServer::freeSlotLocked() const
{
    for (int i = 0; i < kRequestSlots; ++i)
        if (!m_requests[size_t(i)])
            return i;
    return -1;
}

void qcStreamServer::pollDevices()
{
    QList<CGIUtil *> old;
    {
        QMutexLocker lock(&m_mutex);
        old = takeRequestsLocked();
        for (qcStreamUtil *unit : qAsConst(m_units)) {
            emit sigDeviceStatus(unit->address(), 0);
            if (unit->isByAddress())
                sendProbeLocked(unit);
            else
                emit sigDeviceStatus(unit->address(), unit->isOnline() ? 1 : 3);
        }
    }
    stopRequests(old);
}

bool qcStreamServer::sendProbeLocked(qcStreamUtil *unit)
{
    const int slot = freeSlotLocked();
    if (slot < 0)
        return false;
    auto *request = new CGIUtil(unit->contextId());
    if (!request->setGetRequest(QString(kProbeUrl).arg(unit->address(), unit->port()), unit->userName(),
                                unit->password(), nullptr, nullptr, kProbeTimeoutSec)) {
        delete request;
        return false;
    }
    connect(request, &CGIUtil::sigHeaderCompleted, this, &qcStreamServer::onCgicompleted, Qt::QueuedConnection);
    m_requests[size_t(slot)] = request;
    request->start(QThread::InheritPriority);
    return true;
}

void qcStreamServer::sendClockLocked(qcStreamUtil *unit)
{
    const int slot = freeSlotLocked();
    if (slot >= 0) {
        auto *request = new CGIUtil(unit->contextId());
        const QString now = platform::localNow().toString("yyyy-MM-ddThh:mm:ss");
        if (request->setPostRequest(QString(kClockUrl).arg(unit->address(), unit->port()), unit->userName(),
                                    unit->password(), QString(kClockBody).arg(now), nullptr, nullptr, kClockConnectSec,
                                    kClockTotalSec)) {
            m_requests[size_t(slot)] = request;
            request->start(QThread::InheritPriority);
        } else {
            delete request;
        }
    }
    qDebug().noquote() << "--------Revise Timer:" + unit->address() + "--------";
}

void qcStreamServer::onCgicompleted(int ctxid, int error)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = nullptr;
    for (qcStreamUtil *u : qAsConst(m_units))
        if (u->contextId() == ctxid) {
            unit = u;
            break;
        }
    if (unit) {
        if (error == 0) {
            // Set the clock when the device has just become reachable.
            if (!unit->isOnline())
                sendClockLocked(unit);
            unit->setOnline(true);
            // The device takes this login again: its streams may be asked for.
            unit->clearLoginRefused();
        } else {
            unit->setOnline(false);
        }
    }
    const QString address = unit ? unit->address() : QString();
    if (error != 0) {
        if (unit && m_alarmServer)
            emit sigAlarmRemoveDevice(address);
        emit sigDeviceStatus(address, error == 1 ? 2 : 3);
        return;
    }
    if (!unit)
        return;
    if (m_alarmServer)
        QMetaObject::invokeMethod(m_alarmServer, "addDevice", Qt::QueuedConnection, Q_ARG(QString, address),
                                  Q_ARG(QString, unit->port()), Q_ARG(QString, unit->userName()),
                                  Q_ARG(QString, unit->password()), Q_ARG(qint64, unit->deviceIndex()));
    emit sigDeviceStatus(address, 1);
}

void qcStreamServer::clockRun()
{
    QList<CGIUtil *> old;
    {
        QMutexLocker lock(&m_mutex);
        if (m_shutDown)
            return;
        old = takeRequestsLocked();
        for (qcStreamUtil *unit : qAsConst(m_units))
            if (unit->isByAddress())
                sendClockLocked(unit);
    }
    stopRequests(old);
}

bool qcStreamServer::startIntercom(const QString &ip)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *target = nullptr;
    for (qcStreamUtil *unit : qAsConst(m_units)) {
        if (unit->address() == ip)
            target = unit;
        else if (unit->isTalking())
            unit->stopTalk();
    }
    if (!target)
        return false;
    if (!m_capture) {
        m_capture = m_microphoneFactory ? m_microphoneFactory() : new qcAudioCapture(nullptr);
        if (!m_capture)
            return false;
        // Without a usable microphone the sender still runs and sends
        // whatever samples arrive.
        m_capture->startCapture();
    } else {
        m_capture->setSuspended(false);
    }
    return target->startTalk(m_capture);
}

void qcStreamServer::setMicrophoneFactory(MicrophoneFactory factory)
{
    QMutexLocker lock(&m_mutex);
    m_microphoneFactory = std::move(factory);
}

bool qcStreamServer::stopIntercom(const QString &ip)
{
    QMutexLocker lock(&m_mutex);
    for (qcStreamUtil *unit : qAsConst(m_units)) {
        if (unit->address() == ip) {
            unit->stopTalk();
            if (m_capture)
                m_capture->setSuspended(true);
            return true;
        }
        if (ip.isEmpty() && unit->isTalking()) {
            unit->stopTalk();
            if (m_capture)
                m_capture->setSuspended(true);
        }
    }
    return false;
}

void qcStreamServer::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_tickTimer)
        killTimer(m_tickTimer);
    if (m_clockTimer)
        killTimer(m_clockTimer);
    m_tickTimer = m_clockTimer = 0;

    QList<qcStreamUtil *> units;
    QList<CGIUtil *> requests;
    qcAudioCapture *capture;
    {
        QMutexLocker lock(&m_mutex);
        units.swap(m_units);
        requests = takeRequestsLocked();
        capture = m_capture;
        m_capture = nullptr;
    }
    deleteUnits(units);
    stopRequests(requests);
    if (capture) {
        // The microphone belongs to the thread that first asked for talk.
        if (capture->thread() == QThread::currentThread()) {
            capture->stopCapture();
            delete capture;
        } else {
            QMetaObject::invokeMethod(
                capture,
                [capture] {
                    capture->stopCapture();
                    delete capture;
                },
                Qt::QueuedConnection);
        }
    }
}
