#include "media/qcstreamutil.h"

#include "device/playstream.h"
#include "device/qcdeviceintercom.h"
#include "device/qcp2pstreaminterface.h"
#include "media/qcframebuffer.h"
#include "media/qcrecorderinterface.h"

#include <QDebug>
#include <QElapsedTimer>

#include <algorithm>
#include <mutex>

std::atomic<qcP2PStreamInterface *> g_p2pStreams[kP2PStreamSlots];

namespace {
// Held while a slot is cleared for deletion and while the live page uses
// what it found there.
std::mutex g_p2pTableLock;
} // namespace

bool withP2PStream(const QString &id, const std::function<void(qcP2PStreamInterface *)> &fn)
{
    if (id.isEmpty())
        return false;
    std::lock_guard<std::mutex> lock(g_p2pTableLock);
    for (auto &slot : g_p2pStreams) {
        qcP2PStreamInterface *stream = slot.load();
        if (stream && stream->getDeviceId() == id) {
            fn(stream);
            return true;
        }
    }
    return false;
}

namespace {

const char kByAddressType[] = "VARAR";
constexpr int kP2PDeviceKind = 3;
constexpr int kH264 = 28;
constexpr int kH265 = 174;

// How long a stop may take before it is worth a line in the log; the wait
// itself always lasts until the thread has ended.
constexpr int kClientStopNoticeMs = 2000;
constexpr int kTalkStopNoticeMs = 3000;
constexpr int kRecorderStopNoticeMs = 4000;

void waitUntilFinished(QThread *thread, int noticeMs, const char *what)
{
    if (!thread->wait(noticeMs)) {
        qDebug() << "----" << what << "still stopping after" << noticeMs << "ms----";
        thread->wait();
    }
}

void stopClient(PlayStream *client)
{
    if (!client)
        return;
    QElapsedTimer timer;
    timer.start();
    client->stop();
    if (timer.elapsed() > kClientStopNoticeMs)
        qDebug() << "----stream client took" << timer.elapsed() << "ms to stop----";
}

int channelCount(int code)
{
    // Codes 2 and 3 are not defined by the devices; they are kept as sent.
    return code == 0 ? 1 : code == 1 ? 2 : code;
}

// A client that is still connecting or connected is left alone: replacing
// it would re-dial a slow device on every tick.
bool replaceable(PlayStream *client)
{
    if (!client->isRunning())
        return true;
    const int status = client->getStatus();
    return status == StatusFailed || status == StatusLost;
}

} // namespace

qcStreamUtil::qcStreamUtil() = default;

qcStreamUtil::~qcStreamUtil()
{
    shutdown();
    releaseP2P();
    // Only now: the clients that write into the buffers have ended.
    delete m_mainBuffer;
    delete m_subBuffer;
}

void qcStreamUtil::setParams(const QString &address, const QString &port, const QString &name, const QString &user,
                             const QString &password, int contextId, qint64 deviceIndex, const QString &type)
{
    m_address = address;
    m_port = port;
    m_name = name;
    m_user = user;
    m_password = password;
    m_contextId = contextId;
    m_deviceIndex = deviceIndex;
    m_type = type;
    m_loginRefused = false;
}

bool qcStreamUtil::isByAddress() const
{
    return m_type == QLatin1String(kByAddressType);
}

bool qcStreamUtil::isOnline()
{
    if (isByAddress())
        return m_online.load();
    return m_p2p && m_p2p->isConnected();
}

void qcStreamUtil::setOnline(bool online)
{
    if (isByAddress())
        m_online = online;
}

MediaInfo_t qcStreamUtil::getMainMediaInfo() const
{
    QMutexLocker lock(&m_infoLock);
    return m_mainInfo;
}

MediaInfo_t qcStreamUtil::getSubMediaInfo() const
{
    QMutexLocker lock(&m_infoLock);
    return m_subInfo;
}

qcFrameBuffer *qcStreamUtil::viewerFrameBuffer(int stream) const
{
    if (stream != Main && stream != Sub)
        return nullptr;
    qcFrameBuffer *buffer = stream == Main ? m_mainBuffer : m_subBuffer;
    if (m_started)
        return buffer;
    // Each client's status is its own: the unit's flag drops when either fails.
    const PlayStream *client = stream == Main ? m_mainClient : m_subClient;
    return client && client->getStatus() == StatusConnected ? buffer : nullptr;
}

bool qcStreamUtil::createBuffers()
{
    if (m_mainBuffer || m_subBuffer)
        return m_mainBuffer && m_subBuffer;
    // Storage comes with each stream's first stream information.
    m_mainBuffer = new qcFrameBuffer;
    m_subBuffer = new qcFrameBuffer;
    return true;
}

bool qcStreamUtil::hasEndedClient() const
{
    if (!isByAddress())
        return false;
    return !m_mainClient || !m_subClient || replaceable(m_mainClient) || replaceable(m_subClient);
}

bool qcStreamUtil::needsStart() const
{
    // The started flag alone is not enough: a client's failure is handled on
    // the unit's own thread and may land while a start on the service thread
    // is still running, which then marks the unit started again; and a
    // client that cannot even open its socket ends without any status.
    return !m_loginRefused && (!m_started || hasEndedClient());
}

bool qcStreamUtil::start()
{
    if (m_started && !hasEndedClient())
        return false;
    if (!createBuffers())
        return false;
    if (isByAddress())
        return startHttpClients();
    return startP2P();
}

PlayStream *qcStreamUtil::makeClient(Stream stream)
{
    auto *client = new PlayStream(m_address, m_port, m_user, m_password,
                                  stream == Main ? &qcStreamUtil::onMainFrame : &qcStreamUtil::onSubFrame, this,
                                  PlayStream::kModeLive);
    // The client before has ended (stopped and waited for): one at a time.
    client->setPictureClock(&m_pictureClocks[stream]);
    // The status slots run on the unit's own thread; a status queued by a
    // client that has been replaced meanwhile must not touch the new one.
    const quint64 generation = ++m_clientGeneration[stream];
    connect(client, &PlayStream::sigConnectStatus, this, [this, stream, generation](int status) {
        if (generation == m_clientGeneration[stream].load())
            streamStatus(stream, status);
    });
    return client;
}

bool qcStreamUtil::startHttpClients()
{
    m_started = false;
    for (Stream stream : {Main, Sub}) {
        PlayStream *&client = stream == Main ? m_mainClient : m_subClient;
        if (client && replaceable(client) && client->loginRefused()) {
            // Nothing more is asked until the login changes or the device
            // accepts it again; then both streams start afresh.
            m_loginRefused = true;
            dropClients();
            return false;
        }
        if (client && replaceable(client)) {
            ++m_clientGeneration[stream];
            stopClient(client);
            delete client;
            client = nullptr;
        }
        if (!client) {
            client = makeClient(stream);
            if (!client->prepareLiveRequest(stream == Main ? PlayStream::kMainStream : PlayStream::kSubStream))
                return false; // replaced by the next start, since it never ran
            client->start(QThread::NormalPriority);
        }
    }
    m_started = true;
    return true;
}

bool qcStreamUtil::startP2P()
{
    if (!m_p2p) {
        m_p2p = createP2PStream(m_address, m_port, m_user, m_password, m_type);
        if (!m_p2p)
            return false;
        for (auto &slot : g_p2pStreams) {
            qcP2PStreamInterface *empty = nullptr;
            if (slot.compare_exchange_strong(empty, m_p2p))
                break;
        }
        // Both slots see the one object's status, so both buffers go with it.
        const quint64 generation = ++m_p2pGeneration;
        connect(m_p2p, &qcP2PStreamInterface::sigConnectStatus, this, [this, generation](int status) {
            if (generation != m_p2pGeneration.load())
                return;
            streamStatus(Main, status);
            streamStatus(Sub, status);
        });
    }
    if (m_p2p->addDataCallback(&qcStreamUtil::onMainFrame, this) &&
        m_p2p->addDataCallback(&qcStreamUtil::onSubFrame, this) && m_p2p->openDevice(kP2PDeviceKind) &&
        m_p2p->setCallbacks()) {
        m_started = true;
        return true;
    }
    releaseP2P();
    return false;
}

void qcStreamUtil::releaseP2P()
{
    if (!m_p2p)
        return;
    ++m_p2pGeneration;
    // Nobody may find the object in the table once it is gone, nor still be
    // using what they found there.
    {
        std::lock_guard<std::mutex> lock(g_p2pTableLock);
        for (auto &slot : g_p2pStreams) {
            qcP2PStreamInterface *mine = m_p2p;
            slot.compare_exchange_strong(mine, nullptr);
        }
    }
    m_p2p->cancelOpen();
    delete m_p2p;
    m_p2p = nullptr;
}

void qcStreamUtil::dropClients()
{
    ++m_clientGeneration[Main];
    ++m_clientGeneration[Sub];
    stopClient(m_mainClient);
    stopClient(m_subClient);
    delete m_mainClient;
    delete m_subClient;
    m_mainClient = nullptr;
    m_subClient = nullptr;
}

bool qcStreamUtil::restart()
{
    if (isByAddress()) {
        if (!m_started || !m_mainBuffer || !m_subBuffer) {
            // A client still connected to the old address with the old
            // credentials would otherwise survive the next start.
            dropClients();
            return false;
        }
        clearBuffer(Main);
        clearBuffer(Sub);
        m_started = false;
        dropClients();
        return startHttpClients();
    }
    if (!m_started || !m_p2p)
        return false;
    m_started = false;
    m_p2p->setConnectInfo(m_address, m_port, m_user, m_password, m_type);
    m_p2p->closeStream();
    m_started = true;
    return true;
}

void qcStreamUtil::onMainStreamStatus(int status)
{
    streamStatus(Main, status);
}

void qcStreamUtil::onSubStreamStatus(int status)
{
    streamStatus(Sub, status);
}

void qcStreamUtil::streamStatus(Stream stream, int status)
{
    if (status != StatusFailed && status != StatusLost)
        return;
    m_started = false;
    clearBuffer(stream);
}

void qcStreamUtil::clearBuffer(Stream stream)
{
    qcFrameBuffer *buffer = stream == Main ? m_mainBuffer : m_subBuffer;
    if (!buffer)
        return;
    {
        // The recorder polls the buffer: the last pictures the client
        // received before the connection closed may not be read yet.
        QMutexLocker lock(&m_recordLock);
        if (m_recorder && m_recorder->isRunning() && m_recordBuffer == buffer)
            m_recorder->keepTail(*buffer);
    }
    buffer->clear();
}

void qcStreamUtil::onMainFrame(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp,
                               void *user)
{
    if (user)
        static_cast<qcStreamUtil *>(user)->onFrame(Main, data, length, kind, subkind, timestamp);
}

void qcStreamUtil::onSubFrame(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp,
                              void *user)
{
    if (user)
        static_cast<qcStreamUtil *>(user)->onFrame(Sub, data, length, kind, subkind, timestamp);
}

void qcStreamUtil::onFrame(Stream stream, const unsigned char *data, int length, int kind, int subkind,
                           qint64 timestamp)
{
    if (!data || length < 1)
        return;
    if (kind == KindStreamInfo) {
        onStreamInfo(stream, data, length);
        return;
    }
    uint32_t type = 0;
    if (kind == KindAudio)
        type = 4;
    else if (kind == KindVideo && subkind == 1)
        type = 1;
    else if (kind == KindVideo && subkind == 0)
        type = 2;
    else if (kind == KindVideo && subkind == 2)
        type = 3;
    else
        return;
    qcFrameBuffer *buffer = stream == Main ? m_mainBuffer : m_subBuffer;
    if (buffer)
        buffer->pushFrame(data, length, type, static_cast<uint64_t>(timestamp)); // refusals are dropped
}

void qcStreamUtil::onStreamInfo(Stream stream, const unsigned char *data, int length)
{
    if (length < kStreamInfoSize)
        return;
    const StreamInfo_t info = wire::readStreamInfo(data);
    // A size no device sends is a corrupt record: keep the old description.
    if (info.width == 0 || info.height == 0 || info.width > kMaxSide || info.height > kMaxSide)
        return;

    const int videoCodec = info.videoCodec() == 0 ? kH264 : kH265;
    const int channels = channelCount(info.channelCode());
    bool changed = false;
    {
        QMutexLocker lock(&m_infoLock);
        MediaInfo_t &mi = stream == Main ? m_mainInfo : m_subInfo;
        mi.decoder = info.decoderChoice();
        changed = mi.width != info.width || mi.height != info.height || mi.videoCodec != videoCodec;
        if (!changed && info.hasAudio())
            changed = mi.audioCodec != info.audioCodec() || mi.audioRate != info.sampleRate || mi.channels != channels;
        mi.audioCodec = info.audioCodec();
        mi.audioRate = info.sampleRate;
        mi.channels = channels;
        mi.videoCodec = videoCodec;
        mi.width = info.width;
        mi.height = info.height;
        mi.frameRate = info.framesPerSecond();
        (stream == Main ? m_mainHasAudio : m_subHasAudio) = info.hasAudio();
    }

    if (stream == Main && changed) {
        // The recorder's file holds one format; it ends by itself once told.
        QMutexLocker lock(&m_recordLock);
        if (m_recorder && m_recorder->isRunning()) {
            // Unreported, like the service's own stop on a format change: the
            // recorder may finish before that stop arrives.
            m_recorder->setReportWanted(false);
            m_recorder->stop();
        }
    }

    qcFrameBuffer *buffer = stream == Main ? m_mainBuffer : m_subBuffer;
    if (!buffer)
        return;
    const int fps = info.framesPerSecond();
    if (fps >= 1 && fps <= 60)
        buffer->setFrameRate(fps);
    // Four bytes a pixel holds a good many compressed frames; very large
    // streams still get the largest buffer there is.
    const uint64_t wanted = uint64_t(info.width) * uint64_t(info.height) * 4u;
    const uint32_t size = uint32_t(std::min<uint64_t>(wanted, qcFrameBuffer::kMaxStorage - 1));
    if (buffer->capacity() == 0) {
        buffer->allocate(size);
        return;
    }
    if (changed) {
        buffer->reallocate(size);
        emit sigMetaChange(m_contextId, stream);
    }
}

bool qcStreamUtil::isRecording()
{
    QMutexLocker lock(&m_recordLock);
    return (m_recorder && m_recorder->isRunning()) || m_chain.owesNextFile();
}

bool qcStreamUtil::recordingGoesOn(int kind)
{
    QMutexLocker lock(&m_recordLock);
    return m_chain.active() && m_chain.params().kind == kind;
}

bool qcStreamUtil::owesNextFile()
{
    QMutexLocker lock(&m_recordLock);
    return m_chain.owesNextFile();
}

int qcStreamUtil::chainKind()
{
    QMutexLocker lock(&m_recordLock);
    return m_chain.params().kind;
}

qint64 qcStreamUtil::resumeSequence()
{
    QMutexLocker lock(&m_recordLock);
    return m_resume.sequence();
}

void qcStreamUtil::scheduleLapsed()
{
    QMutexLocker lock(&m_recordLock);
    m_resume.scheduleLapsed();
}

bool qcStreamUtil::startRecord(const QString &top, const QString &fileName, int kind, int stream, int lengthSec,
                               int preSec, int postSec, bool report)
{
    if (!m_started)
        return false;
    QMutexLocker lock(&m_recordLock);
    if (m_chain.owesNextFile())
        return false;
    RecordingChain::Params params;
    params.top = top;
    params.kind = kind;
    params.stream = stream;
    params.lengthSec = lengthSec;
    params.preSec = preSec;
    params.postSec = postSec;
    params.report = report;
    if (!startRecorderLocked(params, fileName, 0))
        return false;
    m_chain.begin(params);
    return true;
}

bool qcStreamUtil::continueRecording(const QString &top, const QString &fileName)
{
    QMutexLocker lock(&m_recordLock);
    if (!m_chain.owesNextFile())
        return false;
    // The last file's recorder is still winding up: the next tick tries again.
    if (m_recorder && m_recorder->isRunning())
        return false;
    RecordingChain::Params params = m_chain.params();
    params.top = top; // the record root as it is now, which the name lies under
    if (m_started && !fileName.isEmpty() && startRecorderLocked(params, fileName, m_chain.recordedMs())) {
        m_chain.nextFileStarted();
        return true;
    }
    endChainLocked();
    return false;
}

void qcStreamUtil::endOwedRecording()
{
    QMutexLocker lock(&m_recordLock);
    if (m_chain.owesNextFile())
        endChainLocked();
}

void qcStreamUtil::endChainLocked()
{
    const int kind = m_chain.params().kind;
    const bool report = m_chain.params().report;
    const QString last = m_chain.lastFile();
    m_chain.end();
    // The recording the operator sees running has ended after all: its end
    // is its last file's.
    if (report) {
        const QString address = m_address;
        QMetaObject::invokeMethod(
            this, [this, address, last, kind] { emit sigRecordCompleted(address, last, kind); }, Qt::QueuedConnection);
    }
}

bool qcStreamUtil::startRecorderLocked(const RecordingChain::Params &params, const QString &fileName,
                                       qint64 recordedBefore)
{
    if (m_recorder) {
        if (m_recorder->isRunning())
            return false;
        delete m_recorder; // ended by itself; its end has been reported already
        m_recorder = nullptr;
    }
    qcRecorderInterface *recorder = createRecorder();
    if (!recorder)
        return false;
    if (!recorder->setRecordParams(params.top, fileName, params.kind, params.stream, params.lengthSec, params.preSec,
                                   params.postSec, m_resume.sequenceFor(params.kind))) {
        delete recorder;
        return false;
    }
    recorder->setContinuesAfterCut(m_resume.goesOn(params.kind));
    recorder->setRecordedBefore(recordedBefore);
    recorder->setHandOver(m_resume.take());
    const int stream = params.stream;
    if (stream == Main || stream == Sub) {
        MediaInfo_t mi;
        bool hasAudio;
        {
            QMutexLocker infoLock(&m_infoLock);
            mi = stream == Main ? m_mainInfo : m_subInfo;
            hasAudio = stream == Main ? m_mainHasAudio : m_subHasAudio;
        }
        recorder->setStreamInfo(mi.audioCodec, mi.audioRate, mi.channels, mi.videoCodec, mi.width, mi.height,
                                mi.frameRate, hasAudio, mi.decoder);
        recorder->setFrameBuffer(stream == Main ? m_mainBuffer : m_subBuffer);
        m_recordBuffer = stream == Main ? m_mainBuffer : m_subBuffer;
    }
    recorder->setRecordKind(params.kind);
    recorder->setReportWanted(params.report);
    // All three run on the recorder's thread while it is alive, so they may
    // read the recorder itself; the report then travels to the unit's thread.
    const QString address = m_address;
    connect(
        recorder, &qcRecorderInterface::sigCompleted, this,
        [this, recorder, address](const QString &file) { OnRecordCompleted(recorder, address, file); },
        Qt::DirectConnection);
    for (auto cut : {&qcRecorderInterface::sigInterruptSeq, &qcRecorderInterface::sigDateChange})
        connect(
            recorder, cut, this, [this, recorder](qlonglong llseq) { recordCut(recorder, llseq); },
            Qt::DirectConnection);
    connect(
        recorder, &qcRecorderInterface::sigLengthUsed, this,
        [this, recorder](qlonglong llseq) {
            QMutexLocker lock(&m_recordLock);
            if (recorder == m_recorder)
                m_resume.filled(recorder->recordKind(), llseq);
        },
        Qt::DirectConnection);
    m_recorder = recorder;
    m_recordFile = fileName;
    recorder->start(QThread::InheritPriority);
    return true;
}

void qcStreamUtil::OnRecordCompleted(qcRecorderInterface *recorder, const QString &address, const QString &file)
{
    {
        QMutexLocker lock(&m_recordLock);
        // Only the current recorder's end counts: a stopped one is no longer
        // current when it ends.
        if (recorder == m_recorder)
            m_chain.fileEnded(m_cutBy == recorder, recorder->recordedMs(), file);
        if (m_cutBy == recorder)
            m_cutBy = nullptr;
    }
    if (!recorder->takeReport())
        return;
    const int kind = recorder->recordKind();
    QMetaObject::invokeMethod(
        this, [this, address, file, kind] { emit sigRecordCompleted(address, file, kind); }, Qt::QueuedConnection);
}

void qcStreamUtil::recordCut(qcRecorderInterface *recorder, qlonglong llseq)
{
    // Kept even from a recorder that is no longer current: it is where the
    // next recording continues, playable from its first frame.
    QMutexLocker lock(&m_recordLock);
    m_resume.cut(llseq, recorder->takeHandOver());
    m_cutBy = recorder;
}

bool qcStreamUtil::stopRecord(bool report)
{
    qcRecorderInterface *recorder;
    {
        QMutexLocker lock(&m_recordLock);
        recorder = m_recorder;
        m_recorder = nullptr;
        m_chain.end();
        m_resume.dropHandOver();
    }
    if (!recorder)
        return false;
    recorder->setReportWanted(report);
    recorder->stop();
    // Outside the lock: the recorder's last signals take it on their way out.
    waitUntilFinished(recorder, kRecorderStopNoticeMs, "recorder");
    {
        QMutexLocker lock(&m_recordLock);
        if (m_cutBy == recorder)
            m_cutBy = nullptr;
        m_resume.dropHandOver();
    }
    delete recorder;
    return true;
}

bool qcStreamUtil::startTalk(qcAudioCapture *microphone)
{
    if (!isByAddress()) {
        const bool ok = m_p2p && m_p2p->startTalk(microphone);
        m_talking = ok;
        return ok;
    }
    stopTalkSender();
    m_talk = new qcDeviceIntercom(nullptr);
    m_talk->setParams(m_address, m_port, m_user, m_password, microphone);
    m_talk->start(QThread::NormalPriority);
    m_talking = true;
    return true;
}

int qcStreamUtil::stopTalkSender()
{
    if (!m_talk)
        return 0;
    m_talk->stopIntercom();
    waitUntilFinished(m_talk, kTalkStopNoticeMs, "talk sender");
    const int lost = m_talk->droppedMs();
    delete m_talk;
    m_talk = nullptr;
    m_talking = false;
    return lost;
}

talklog::End qcStreamUtil::takeTalkEnd(int *lostMs)
{
    if (!m_talk || !m_talk->isFinished() || !m_talk->talkFailed())
        return talklog::Going;
    const talklog::End end = m_talk->talkStarted() ? talklog::Dropped : talklog::Refused;
    const int lost = stopTalkSender();
    if (lostMs)
        *lostMs = lost;
    return end;
}

int qcStreamUtil::stopTalk()
{
    if (!isByAddress()) {
        if (m_p2p)
            m_p2p->stopTalk();
        m_talking = false;
        return 0;
    }
    return stopTalkSender();
}

void qcStreamUtil::shutdown()
{
    stopRecord(false);
    stopTalkSender();
    if (m_p2p)
        m_p2p->stopTalk();
    dropClients();
    m_started = false;
}
