#include "media/qcstreamserver.h"

#include "app/core/cgiutil.h"
#include "app/core/settingranges.h"
#include "device/deviceaddress.h"
#include "device/qcaudiocapture.h"
#include "media/qcdiskmanager.h"
#include "media/qcstreamutil.h"
#include "media/recordfileguard.h"
#include "media/recordfolders.h"
#include "media/recordindex.h"
#include "media/recordlog.h"
#include "media/recordnames.h"
#include "media/talklog.h"
#include "platform/clock.h"

#include <QDebug>
#include <QDir>
#include <QRegularExpression>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>

namespace {

const char kProbeUrl[] = "http://%1:%2/action/get?subject=systime";
const char kClockUrl[] = "http://%1:%2/action/set?subject=systime";
const char kClockBody[] = "<request><systime><mode>0</mode><datetime>%1</datetime><dst><active>0</active></dst>"
                          "</systime></request>";
constexpr int kPollAfterTicks = 20;
constexpr int kScheduleLimit = 86400;
constexpr int kCaptureEndLimit = 76400;
constexpr int kManualLength = 1800;
constexpr int kFirstAlarm = 64;
constexpr int kLastAlarm = 73;

bool inWindow(const qcStreamServer::ScheduleEntry &e, int today, int minute)
{
    return e.enabled == 1 && e.day == today && e.start <= minute && minute < e.end;
}

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
    repairRecordings();
    continueRecordings();
    checkSchedules();
    checkTalks();
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

void qcStreamServer::repairRecordings()
{
    if (m_repaired)
        return;
    const QString root = recordRoot();
    if (root.isEmpty())
        return;
    // Before the disk guard exists, so it never walks a folder being repaired.
    recordindex::repairTree(root);
    m_repaired = true;
}

void qcStreamServer::createOwnedServices()
{
    if (!m_alarmServer) {
        auto *server = new qcAlarmServer(nullptr, m_alarmTiming);
        auto *thread = new QThread(this);
        thread->setObjectName(QStringLiteral("AlarmChannel"));
        server->moveToThread(thread);
        connect(server, &qcAlarmServer::sigAlarmStatus, this, &qcStreamServer::onAlarmStatus, Qt::QueuedConnection);
        connect(this, &qcStreamServer::sigAlarmRemoveDevice, server, &qcAlarmServer::OnRemoveDevice);
        connect(this, &qcStreamServer::sigAlarmModifyDevice, server, &qcAlarmServer::OnModifyDevice);
        thread->start(QThread::InheritPriority);
        QMutexLocker lock(&m_mutex);
        m_alarmServer = server;
        m_alarmThread = thread;
    }
    if (!m_diskGuard) {
        auto *guard = new qcDiskManager;
        QString root;
        int reserved;
        {
            QMutexLocker lock(&m_mutex);
            root = m_recordRoot;
            reserved = m_reservedSize;
        }
        guard->setMinFreeSpace(reserved);
        if (!root.isEmpty())
            guard->setRecordRoot(root);
        recordindex::setLowSpaceHook([guard] { guard->requestCheck(); });
        recordindex::setTimeWentBackHook([guard] { guard->requestLatePass(); });
        guard->start(QThread::LowPriority);
        QMutexLocker lock(&m_mutex);
        m_diskGuard = guard;
    }
    if (!m_captureServer) {
        auto *server = new qcCaptureServer;
        server->setCapturePath(captureRoot());
        auto *thread = new QThread(this);
        thread->setObjectName(QStringLiteral("CaptureScheduler"));
        server->moveToThread(thread);
        thread->start(QThread::InheritPriority);
        QMutexLocker lock(&m_mutex);
        m_captureServer = server;
        m_captureThread = thread;
    }
}

qcCaptureServer *qcStreamServer::captureServer()
{
    QMutexLocker lock(&m_mutex);
    return m_captureServer;
}

qcAlarmServer *qcStreamServer::alarmServer()
{
    QMutexLocker lock(&m_mutex);
    return m_alarmServer;
}

qcDiskManager *qcStreamServer::diskGuard()
{
    QMutexLocker lock(&m_mutex);
    return m_diskGuard;
}

void qcStreamServer::setAlarmTiming(const AlarmTiming &timing)
{
    m_alarmTiming = timing;
}

QString qcStreamServer::recordPathLocked(const QString &address, int kind)
{
    const QString name = recordnames::initialName(address, kind);
    const QString device = deviceaddress::folderName(address);
    if (m_recordRoot.isEmpty() || name.isEmpty() || device.isEmpty())
        return QString();
    const QString folder = m_recordRoot + '/' + recordnames::dayFolder(platform::localNow().date()) + '/' + device;
    // Tried again on every tick: told once per device until it works again.
    const QString key = QStringLiteral("record folder of ") + device;
    if (!recordfileguard::makeFolder(m_recordRoot, folder)) {
        recordlog::abnormalOnce(key, folder, QStringLiteral("record folder failed"), device,
                                QStringLiteral("%1 cannot be made, or a link or a file stands on its way: nothing "
                                               "of this device is recorded until it can be made")
                                    .arg(folder));
        return QString();
    }
    recordlog::faultGone(key);
    return folder + '/' + name;
}

QString qcStreamServer::buildRecordPath(const QString &address, int kind)
{
    QMutexLocker lock(&m_mutex);
    return recordPathLocked(address, kind);
}

bool qcStreamServer::startRecord(const QString &ip, int pre)
{
    // The folders are repaired first; a recording must not race the repair.
    if (!m_repaired)
        return false;
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = findLocked(ip);
    if (!unit)
        return false;
    if (!unit->isRecording()) {
        const QString path = recordPathLocked(ip, recordnames::kKindManual);
        if (path.isEmpty())
            return false;
        unit->startRecord(m_recordRoot, path, recordnames::kKindManual, 0, kManualLength, pre, 0, true);
    }
    return unit->isRecording();
}

bool qcStreamServer::stopRecord(const QString &ip)
{
    qcStreamUtil *unit;
    {
        QMutexLocker lock(&m_mutex);
        unit = findLocked(ip);
    }
    // The wait for the recorder holds up nobody's device list.
    if (unit)
        unit->stopRecord(true);
    return unit != nullptr;
}

bool qcStreamServer::isValidEntry(const ScheduleEntry &e, bool capture)
{
    // An all-devices row keeps an empty device text; only a row for listed
    // devices needs one.
    return (e.applyTo == 0 || e.applyTo == 1) && (e.segmentType == 0 || e.segmentType == 1) &&
           e.start <= kScheduleLimit && e.end <= (capture ? kCaptureEndLimit : kScheduleLimit) && e.end > e.start &&
           !(e.applyTo == 1 && e.devices.isEmpty());
}

bool qcStreamServer::addSchedule(QList<ScheduleEntry> *list, bool capture, int day, int applyTo, int segmentType,
                                 int start, int end, int enabled, const QString &devices)
{
    ScheduleEntry e;
    e.applyTo = applyTo;
    e.start = start;
    e.end = end;
    e.segmentType = segmentType;
    e.enabled = enabled;
    if (!devices.isEmpty())
        e.devices = devices.split(';');
    e.day = day;
    if (!isValidEntry(e, capture))
        return false;
    QMutexLocker lock(&m_mutex);
    list->append(e);
    return true;
}

bool qcStreamServer::addRecordSchedule(int day, int applyTo, int segmentType, int start, int end, int enabled,
                                       const QString &devices)
{
    return addSchedule(&m_recordSchedules, false, day, applyTo, segmentType, start, end, enabled, devices);
}

bool qcStreamServer::addSecondSchedule(int day, int applyTo, int segmentType, int start, int end, int enabled,
                                       const QString &devices)
{
    return addSchedule(&m_captureSchedules, true, day, applyTo, segmentType, start, end, enabled, devices);
}

bool qcStreamServer::replaceSchedules(const QList<ScheduleEntry> &records, const QList<ScheduleEntry> &captures)
{
    QList<ScheduleEntry> keptRecords;
    QList<ScheduleEntry> keptCaptures;
    for (const ScheduleEntry &e : records)
        if (isValidEntry(e, false))
            keptRecords << e;
    for (const ScheduleEntry &e : captures)
        if (isValidEntry(e, true))
            keptCaptures << e;
    const bool whole = keptRecords.size() == records.size() && keptCaptures.size() == captures.size();
    // One step under the device-list mutex: a tick sees the old lists or
    // the new ones, never a mix.
    QMutexLocker lock(&m_mutex);
    m_recordSchedules = keptRecords;
    m_captureSchedules = keptCaptures;
    matchTimedCapturesNowLocked();
    return whole;
}

QList<qcStreamServer::ScheduleEntry> qcStreamServer::recordSchedules()
{
    QMutexLocker lock(&m_mutex);
    return m_recordSchedules;
}

QList<qcStreamServer::ScheduleEntry> qcStreamServer::captureSchedules()
{
    QMutexLocker lock(&m_mutex);
    return m_captureSchedules;
}

void qcStreamServer::checkSchedules()
{
    QList<ScheduleEntry> entries;
    int today = 0;
    int minute = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (m_recordSchedules.isEmpty() && m_captureSchedules.isEmpty()) {
            lapseScheduledRunsLocked({});
            return;
        }
        entries = m_recordSchedules;
        const QDateTime now = platform::localNow();
        today = now.date().dayOfWeek();
        minute = now.time().hour() * 60 + now.time().minute();
        // Under the same lock as the copy: a replacement meanwhile must not
        // bring back the tasks it took away.
        matchTimedCapturesLocked(m_captureSchedules, today, minute);
    }
    QStringList handled;
    for (const ScheduleEntry &e : qAsConst(entries)) {
        if (!inWindow(e, today, minute) || e.applyTo != 1 || e.segmentType != 0)
            continue;
        for (const QString &device : e.devices) {
            if (device.isEmpty())
                continue;
            handled << device;
            startScheduledRecord(device);
            emit sigScheduleRecord(device);
        }
    }
    bool everyDevice = false;
    for (const ScheduleEntry &e : qAsConst(entries)) {
        if (!inWindow(e, today, minute) || e.applyTo != 0 || e.segmentType != 0)
            continue;
        everyDevice = true;
        QStringList addresses;
        {
            QMutexLocker lock(&m_mutex);
            for (qcStreamUtil *unit : qAsConst(m_units))
                addresses << unit->address();
        }
        for (const QString &address : qAsConst(addresses)) {
            if (handled.contains(address))
                continue;
            startScheduledRecord(address);
            emit sigScheduleRecord(address);
        }
    }
    if (everyDevice)
        return;
    QMutexLocker lock(&m_mutex);
    lapseScheduledRunsLocked(handled);
}

void qcStreamServer::lapseScheduledRunsLocked(const QStringList &running)
{
    for (qcStreamUtil *unit : qAsConst(m_units))
        if (!running.contains(unit->address()))
            unit->scheduleLapsed();
}

void qcStreamServer::continueRecordings()
{
    QMutexLocker lock(&m_mutex);
    for (qcStreamUtil *unit : qAsConst(m_units)) {
        if (!unit->owesNextFile())
            continue;
        // In the folder of the day the file is made on, under the record root
        // as it is now.
        const QString path = recordPathLocked(unit->address(), unit->chainKind());
        if (path.isEmpty())
            unit->endOwedRecording();
        else
            unit->continueRecording(m_recordRoot, path);
    }
}

bool qcStreamServer::recordingGoesOn(const QString &ip, int kind)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = findLocked(ip);
    return unit && unit->recordingGoesOn(kind);
}

void qcStreamServer::startScheduledRecord(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    qcStreamUtil *unit = findLocked(address);
    // While its recorder runs the unit refuses anyway; no need for a path.
    if (!unit || !unit->isOnline() || unit->isRecording())
        return;
    const QString path = recordPathLocked(address, recordnames::kKindTiming);
    if (!path.isEmpty())
        unit->startRecord(m_recordRoot, path, recordnames::kKindTiming, m_recordStream, m_recordDuration, m_prevRecord,
                          m_postRecord, true);
}

bool qcStreamServer::startAlarmRecordLocked(const QString &address, QString *name)
{
    qcStreamUtil *unit = findLocked(address);
    if (!unit || !unit->isOnline())
        return false;
    // A running recording, or one whose next file after a cut is about to
    // start, is neither extended nor restarted, yet the alarm counts as
    // recorded.
    if (!unit->isRecording()) {
        const QString path = recordPathLocked(address, recordnames::kKindAlarm);
        if (!path.isEmpty())
            unit->startRecord(m_recordRoot, path, recordnames::kKindAlarm, m_recordStream, m_recordDuration,
                              m_prevRecord, m_postRecord, true);
    }
    if (name->isEmpty())
        *name = unit->deviceName();
    return true;
}

void qcStreamServer::onAlarmStatus(QString ipaddr, int status)
{
    qDebug().noquote() << "Alarm Arived and code is:" << QString::number(status, 16);
    static const QRegularExpression ipv4(QStringLiteral(
        "^(((25[0-5])|(2[0-4]\\d)|(1\\d\\d|[1-9]\\d)|(\\d))\\.){3}(((25[0-5])|(2[0-4]\\d)|(1\\d\\d|[1-9]\\d)|(\\d)))"));
    if (ipaddr.isEmpty() || !ipv4.match(ipaddr).hasMatch() || status < kFirstAlarm || status > kLastAlarm)
        return;
    const QDateTime now = platform::localNow();
    const int today = now.date().dayOfWeek();
    const int minute = now.time().hour() * 60 + now.time().minute();
    QList<ScheduleEntry> records;
    QList<ScheduleEntry> captures;
    {
        QMutexLocker lock(&m_mutex);
        records = m_recordSchedules;
        captures = m_captureSchedules;
    }
    QString name;
    const bool recorded = runAlarmPasses(records, ipaddr, today, minute, false, [&](bool general) {
        const bool hadName = !name.isEmpty();
        if (!startAlarmRecordLocked(ipaddr, &name))
            return false;
        if (!general || !hadName)
            emit sigScheduleRecord(ipaddr);
        return true;
    });
    const bool snapped = runAlarmPasses(captures, ipaddr, today, minute, true,
                                        [&](bool) { return addAlarmCaptureLocked(ipaddr, &name); });
    if (name.isEmpty()) {
        QMutexLocker lock(&m_mutex);
        if (qcStreamUtil *unit = findLocked(ipaddr))
            name = unit->deviceName();
    }
    // One alarm that records and snaps is listed twice, once per action.
    if (recorded)
        emit sigAlarmArrival(ipaddr, name, status, 2, now);
    if (snapped || !recorded)
        emit sigAlarmArrival(ipaddr, name, status, snapped ? 1 : 0, now);
}

bool qcStreamServer::runAlarmPasses(const QList<ScheduleEntry> &entries, const QString &address, int today, int minute,
                                    bool capture, const std::function<bool(bool general)> &act)
{
    bool done = false;
    bool named = false;
    for (const ScheduleEntry &e : entries) {
        if (e.enabled != 1 || !e.devices.contains(address))
            continue;
        named = true;
        if (!inWindow(e, today, minute) || e.segmentType != 1)
            continue;
        QMutexLocker lock(&m_mutex);
        done |= act(false);
    }
    // Entries for all devices count only for a device no entry names.
    if (named)
        return done;
    for (const ScheduleEntry &e : entries) {
        if (!inWindow(e, today, minute) || e.applyTo != 0 || e.segmentType != 1 || (capture && !e.devices.isEmpty()))
            continue;
        QMutexLocker lock(&m_mutex);
        done |= act(true);
    }
    return done;
}

CaptureTask_t qcStreamServer::captureTaskOf(const qcStreamUtil *unit)
{
    CaptureTask_t task;
    task.ip = unit->address();
    task.port = unit->port();
    task.user = unit->userName();
    task.password = unit->password();
    return task;
}

bool qcStreamServer::addAlarmCaptureLocked(const QString &address, QString *name)
{
    // Without a capture root the scheduler would never take the task: the
    // alarm must not be listed as snapped.
    if (!m_captureServer || m_captureRoot.isEmpty())
        return false;
    bool handed = false;
    for (qcStreamUtil *unit : qAsConst(m_units)) {
        if (unit->address() != address)
            continue;
        CaptureTask_t task = captureTaskOf(unit);
        task.remaining = m_captureCount;
        task.interval = m_captureInterval;
        if (m_captureServer->addCaptureTask(task) && m_captureCount > 0)
            handed = true;
        if (name->isEmpty())
            *name = unit->deviceName();
    }
    return handed;
}

void qcStreamServer::matchTimedCapturesLocked(const QList<ScheduleEntry> &entries, int today, int minute)
{
    if (!m_captureServer)
        return;
    // What the settings ask for, whether or not the device answers now: a
    // device that drops out for a while keeps its task and its count.
    QList<CaptureTask_t> settled;
    QList<CaptureTask_t> startable;
    for (const ScheduleEntry &e : entries) {
        if (m_captureRoot.isEmpty() || !inWindow(e, today, minute) || e.segmentType != 0)
            continue;
        for (qcStreamUtil *unit : qAsConst(m_units)) {
            if (e.applyTo == 1 && !e.devices.contains(unit->address()))
                continue;
            CaptureTask_t task = captureTaskOf(unit);
            task.start = e.start * 60;
            task.end = qMin(e.end * 60, qcCaptureServer::kLastEnd);
            task.interval = m_captureInterval;
            settled << task;
            if (unit->isOnline())
                startable << task;
        }
    }
    m_captureServer->keepTimedTasks(settled);
    // The scheduler refuses the same window again while it runs it.
    for (const CaptureTask_t &task : qAsConst(startable))
        m_captureServer->addCaptureTask(task);
}

void qcStreamServer::matchTimedCapturesNowLocked()
{
    const QDateTime now = platform::localNow();
    matchTimedCapturesLocked(m_captureSchedules, now.date().dayOfWeek(), now.time().hour() * 60 + now.time().minute());
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
        // Its schedules go with it: a device added again at the address
        // starts without them, and its snapshot tasks end now.
        dropScheduledAddressLocked(&m_recordSchedules, ip);
        dropScheduledAddressLocked(&m_captureSchedules, ip);
        matchTimedCapturesNowLocked();
    }
    // Stopping the clients, the talk and the recorder takes a while; the
    // device list is free meanwhile.
    deleteUnits(removed);
    return !removed.isEmpty();
}

void qcStreamServer::dropScheduledAddressLocked(QList<ScheduleEntry> *list, const QString &ip)
{
    for (auto it = list->begin(); it != list->end();) {
        const bool named = !it->devices.isEmpty();
        it->devices.removeAll(ip);
        // An entry that named no one else is gone with the device.
        if (named && it->devices.isEmpty())
            it = list->erase(it);
        else
            ++it;
    }
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
    // The schedules that named the device follow it to its new address.
    const QString previous = unit->address();
    if (previous != ip) {
        for (QList<ScheduleEntry> *list : {&m_recordSchedules, &m_captureSchedules})
            for (ScheduleEntry &e : *list)
                std::replace(e.devices.begin(), e.devices.end(), previous, ip);
    }
    unit->setParams(ip, port, name, user, password, unit->contextId(), index, unit->deviceType());
    unit->restart();
    // Nothing is known about the device at its new address until it answers.
    unit->setOnline(false);
    emit sigDeviceStatus(ip, 3);
    if (m_alarmServer)
        emit sigAlarmModifyDevice(ip, port, user, password, index);
    // Tasks under the old address or login go; the new ones come once the
    // device answers.
    matchTimedCapturesNowLocked();
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
    using namespace settingranges;
    // A reserve below the disk guard's minimum is taken: the guard keeps its
    // minimum then.
    if (!kRecordDuration.contains(recordDuration) || !kPrevRecord.contains(prevRecord) ||
        !kPostRecord.contains(postRecord) || !kRecordStream.contains(recordStream) ||
        !inRange(reservedSize, 0, kReservedSize.max) || !kKeepDays.contains(keepDays) ||
        !kCaptureCount.contains(captureCount) || !kCaptureInterval.contains(captureInterval))
        return false;
    const QString recordDir = recordfolders::recordRoot(recordPath);
    const QString captureDir = recordfolders::captureRoot(snapshotPath);
    // Each root is its own top: made as QDir::mkpath makes it.
    const bool recordMade = recordfileguard::makeFolder(recordDir, recordDir);
    const bool made = recordMade && recordfileguard::makeFolder(captureDir, captureDir);
    // Told once per folder that fails, until the folders can be made again:
    // every save of the settings comes here.
    const QString foldersKey = QStringLiteral("record folders");
    if (made) {
        recordlog::faultGone(foldersKey);
    } else {
        const QString failed = recordMade ? captureDir : recordDir;
        recordlog::abnormalOnce(foldersKey, failed, QStringLiteral("record folder failed"), QString(),
                                QStringLiteral("%1 cannot be made: nothing will be recorded and no snapshot "
                                               "taken until the folders can be made")
                                    .arg(failed));
    }
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
    const QString captureRoot = made ? captureDir : QString();
    // The scheduler lives on its own thread and drops its worker on a new
    // root; it is told there.
    if (m_captureServer && captureRoot != m_captureRoot) {
        qcCaptureServer *server = m_captureServer;
        QMetaObject::invokeMethod(
            server, [server, captureRoot] { server->setCapturePath(captureRoot); }, Qt::QueuedConnection);
    }
    m_captureRoot = captureRoot;
    // The guard reads its root and reserve on its own thread at each check.
    if (m_diskGuard) {
        m_diskGuard->replaceMinFreeSpace(reservedSize);
        m_diskGuard->moveRecordRoot(m_recordRoot);
    }
    // A new interval replaces the running timed tasks.
    matchTimedCapturesNowLocked();
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
    // A plain method, safe from any thread: an invocation by name would find
    // no such slot and the device would never get its alarm channel.
    if (m_alarmServer)
        m_alarmServer->addDevice(address, unit->port(), unit->userName(), unit->password(), unit->deviceIndex());
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
    QString name;
    int error = 0;
    bool started = false;
    QList<TalkEnd> stopped;
    {
        QMutexLocker lock(&m_mutex);
        qcStreamUtil *target = nullptr;
        for (qcStreamUtil *unit : qAsConst(m_units)) {
            if (unit->address() == ip)
                target = unit;
            else if (unit->isTalking())
                stopped.append({unit->address(), unit->deviceName(), talklog::Stopped, unit->stopTalk()});
        }
        if (target && !m_capture)
            m_capture = m_microphoneFactory ? m_microphoneFactory() : new qcAudioCapture(nullptr);
        if (target && m_capture) {
            // A microphone that could not be opened is tried again at every start.
            if (m_capture->isCapturing())
                m_capture->setSuspended(false);
            else if (!m_capture->startCapture())
                error = m_capture->lastError();
            // Without a microphone the device would get no sound: no talk then.
            if (!error)
                started = target->startTalk(m_capture);
            name = target->deviceName();
        }
    }
    tellTalkEnds(stopped);
    if (!error)
        return started;
    talklog::ended(ip, name, talklog::NoMicrophone, error);
    emit sigTalkEnded(ip, talklog::NoMicrophone);
    return false;
}

void qcStreamServer::tellTalkEnds(const QList<TalkEnd> &ends)
{
    for (const TalkEnd &e : ends) {
        talklog::ended(e.address, e.name, e.end, 0, e.lostMs);
        if (e.end != talklog::Stopped)
            emit sigTalkEnded(e.address, e.end);
    }
}

void qcStreamServer::checkTalks()
{
    QList<TalkEnd> ended;
    {
        QMutexLocker lock(&m_mutex);
        int lost = 0;
        for (qcStreamUtil *unit : qAsConst(m_units))
            if (const talklog::End end = unit->takeTalkEnd(&lost))
                ended.append({unit->address(), unit->deviceName(), end, lost});
        // One device talks at a time, so none does now; the microphone rests
        // as after a stop, on the thread it belongs to.
        if (!ended.isEmpty() && m_capture) {
            qcAudioCapture *capture = m_capture;
            QMetaObject::invokeMethod(
                capture, [capture] { capture->setSuspended(true); }, Qt::QueuedConnection);
        }
    }
    tellTalkEnds(ended);
}

void qcStreamServer::setMicrophoneFactory(MicrophoneFactory factory)
{
    QMutexLocker lock(&m_mutex);
    m_microphoneFactory = std::move(factory);
}

bool qcStreamServer::stopIntercom(const QString &ip)
{
    bool found = false;
    QList<TalkEnd> stopped;
    {
        QMutexLocker lock(&m_mutex);
        for (qcStreamUtil *unit : qAsConst(m_units)) {
            found = unit->address() == ip;
            if (found || (ip.isEmpty() && unit->isTalking())) {
                stopped.append({unit->address(), unit->deviceName(), talklog::Stopped, unit->stopTalk()});
                if (m_capture)
                    m_capture->setSuspended(true);
            }
            if (found)
                break;
        }
    }
    tellTalkEnds(stopped);
    return found;
}

void qcStreamServer::endOnThread(QObject *object, QThread *thread)
{
    if (!object)
        return;
    // Deleted on its own thread, where its sockets and timers live.
    QMetaObject::invokeMethod(
        object, [object] { delete object; }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete thread;
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

    qcAlarmServer *alarm;
    QThread *alarmThread;
    qcDiskManager *guard;
    qcCaptureServer *captures;
    QThread *captureThread;
    {
        QMutexLocker lock(&m_mutex);
        alarm = m_alarmServer;
        alarmThread = m_alarmThread;
        guard = m_diskGuard;
        captures = m_captureServer;
        captureThread = m_captureThread;
        m_alarmServer = nullptr;
        m_alarmThread = nullptr;
        m_diskGuard = nullptr;
        m_captureServer = nullptr;
        m_captureThread = nullptr;
    }
    // The scheduler's destructor stops its worker and waits for it.
    endOnThread(alarm, alarmThread);
    endOnThread(captures, captureThread);

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
    if (guard) {
        // After the units: their recorders' last appends are done.
        recordindex::setLowSpaceHook({});
        recordindex::setTimeWentBackHook({});
        guard->stop();
        guard->wait();
        delete guard;
    }
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
