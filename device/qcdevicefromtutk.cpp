#include "device/qcdevicefromtutk.h"

#include "device/qcaudiocapture.h"
#include "device/spsparser.h"
#include "platform/p2p/P2pApi.h"
#include "platform/threadnice.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <cstring>

namespace {

// The SDK is shared by every device object of the process.
std::mutex g_sdkMutex;
bool g_sdkInitialised = false;
int g_deviceCount = 0;
TutkTimings g_timings;

constexpr int kMaxUidLength = 20;

constexpr unsigned kIoStreamStop = 0x2FF;
constexpr unsigned kIoStreamStart = 0xFF;
constexpr unsigned kIoVideoStart = 0x1FF;
constexpr unsigned kIoAudioStart = 0x300;
constexpr unsigned kIoQuality = 0x320;
constexpr unsigned kIoTalkStart = 0x350;
constexpr unsigned kIoTalkEnd = 0x351;
constexpr unsigned kIoPtz = 0x1001;
constexpr unsigned kIoDeviceInfo = 0x3000000E;

int videoCodecOf(int id)
{
    if (id == p2p::kCodecH264)
        return 17;
    if (id == p2p::kCodecH265 || id == 0)
        return 18;
    return 16;
}

int audioCodecOf(int id)
{
    switch (id) {
    case p2p::kCodecAac:
        return 21;
    case p2p::kCodecMuLaw:
        return 20;
    case p2p::kCodecALaw:
        return 19;
    case p2p::kCodecPcm:
        return 23;
    case p2p::kCodecMp2:
        return 22;
    case p2p::kCodecG726:
        return 24;
    default:
        return 16;
    }
}

int sampleRateOf(int index)
{
    static const int rates[] = {8000, 11000, 12000, 16000, 22000, 24000, 32000, 44100, 48000};
    return index >= 0 && index < 9 ? rates[index] : 8000;
}

// Wire code of a pan-tilt-zoom command; -1 for commands that are not sent.
int ptzCodeOf(int command)
{
    switch (command) {
    case 16:
        return 0;
    case 26:
        return 1;
    case 27:
        return 2;
    case 28:
        return 3;
    case 29:
        return 6;
    case 30:
        return 4;
    case 31:
        return 7;
    case 32:
        return 5;
    case 33:
        return 8;
    case 34:
        return 9;
    case 35:
        return 35;
    case 36:
        return 27;
    case 37:
        return 24;
    case 38:
        return 23;
    case 39:
        return 26;
    case 40:
        return 25;
    default:
        return -1;
    }
}

bool sessionEnded(int r)
{
    return r == p2p::kErrSessionLost || r == p2p::kErrChannelEnded || r == p2p::kErrClosedHere;
}

int acceptEveryAccount(const char *, const char *)
{
    return 1;
}

QByteArray twoWords(quint32 a, quint32 b)
{
    QByteArray p(8, '\0');
    qToLittleEndian(a, p.data());
    qToLittleEndian(b, p.data() + 4);
    return p;
}

} // namespace

qcDeviceFromTutk::qcDeviceFromTutk() : QThread(nullptr), m_timings(defaultTimings())
{
    std::lock_guard<std::mutex> lock(g_sdkMutex);
    if (!g_sdkInitialised && IOTC_Initialize2(0) == 0) {
        g_sdkInitialised = true;
        avInitialize(64);
    }
    ++g_deviceCount;
}

qcDeviceFromTutk::~qcDeviceFromTutk()
{
    disconnectDevice();
    {
        std::lock_guard<std::mutex> lock(g_sdkMutex);
        if (--g_deviceCount == 0 && g_sdkInitialised) {
            avDeInitialize();
            IOTC_DeInitialize();
            g_sdkInitialised = false;
        }
    }
    std::lock_guard<std::mutex> talk(m_talkMutex);
    m_mic = nullptr;
}

void qcDeviceFromTutk::setDefaultTimings(const TutkTimings &timings)
{
    std::lock_guard<std::mutex> lock(g_sdkMutex);
    g_timings = timings;
}

TutkTimings qcDeviceFromTutk::defaultTimings()
{
    std::lock_guard<std::mutex> lock(g_sdkMutex);
    return g_timings;
}

// ---- slots of the interface -------------------------------------------------

bool qcDeviceFromTutk::setConnectParams(const QString &uid, const QString &, const QString &account,
                                        const QString &password)
{
    m_connected = false;
    std::lock_guard<std::mutex> lock(m_paramMutex);
    m_uid = uid;
    m_account = account;
    m_password = password;
    return true;
}

bool qcDeviceFromTutk::getMediaInfo(int stream, P2pMediaInfo *info)
{
    if (!info || !m_streamReady || (stream != 8 && stream != 9))
        return false;
    std::lock_guard<std::mutex> lock(m_mediaMutex);
    *info = m_media;
    return true;
}

bool qcDeviceFromTutk::connectDevice()
{
    if (m_connected)
        return false;
    if (!isRunning()) {
        // Not running: any earlier thread has ended, so the token can be reused.
        wait();
        m_stop.reset();
        start(QThread::NormalPriority);
    }
    return true;
}

bool qcDeviceFromTutk::openStream(int stream, int)
{
    m_stream = stream;
    m_startRequested = true;
    return true;
}

bool qcDeviceFromTutk::switchStream(int stream)
{
    if (!m_connected || (stream != 8 && stream != 9) || m_avIndex < 0)
        return false;
    QByteArray payload(8, '\0');
    qToLittleEndian(quint32(m_channel), payload.data());
    payload[4] = char(stream == 8 ? 2 : 3);
    return sendIoCtrl(kIoQuality, payload) == 0;
}

bool qcDeviceFromTutk::closeStream()
{
    std::lock_guard<std::mutex> lock(m_recvMutex);
    m_closing = true;
    return true;
}

bool qcDeviceFromTutk::setVideoCallback(P2pVideoCallback fn, void *user)
{
    if (!fn)
        return false;
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_videoCb = fn;
    m_videoUser = user;
    return true;
}

bool qcDeviceFromTutk::setAudioCallback(P2pAudioCallback fn, void *user)
{
    if (!fn)
        return false;
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_audioCb = fn;
    m_audioUser = user;
    return true;
}

bool qcDeviceFromTutk::setStatusCallback(P2pStatusCallback fn, void *user)
{
    if (!fn)
        return false;
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_statusCb = fn;
    m_statusUser = user;
    return true;
}

bool qcDeviceFromTutk::cancelOpen()
{
    if (!m_connected)
        return false;
    m_startRequested = false;
    return true;
}

void qcDeviceFromTutk::disconnectDevice()
{
    m_stop.requestStop();
    if (wait(1500))
        return;
    // Still inside a layer wait (a connect, the client start): closing the
    // session ends that wait at once.
    closeSessionOnce();
    wait();
}

bool qcDeviceFromTutk::isConnected()
{
    return m_connected;
}

bool qcDeviceFromTutk::ptzControl(int command, int)
{
    TutkIoCtrlRecord r;
    r.command = quint8(command);
    r.text = QByteArray(kTextBytes, '\0');
    queueRecord(r);
    return true;
}

bool qcDeviceFromTutk::ptzControlText(int command, int value, const QString &text)
{
    TutkIoCtrlRecord r;
    r.command = quint8(command);
    r.value = quint16(value);
    r.text = text.toLocal8Bit().left(kTextBytes);
    r.text.append(QByteArray(kTextBytes - r.text.size(), '\0'));
    queueRecord(r);
    return true;
}

bool qcDeviceFromTutk::setOption(int, int, const QString &)
{
    return true;
}

QString qcDeviceFromTutk::protocolName()
{
    return QString::fromLatin1(kP2pProtocolName);
}

bool qcDeviceFromTutk::startTalk()
{
    std::lock_guard<std::mutex> lock(m_talkMutex);
    m_talkOn = true;
    return true;
}

bool qcDeviceFromTutk::stopTalk()
{
    std::lock_guard<std::mutex> lock(m_talkMutex);
    m_talkOn = false;
    return true;
}

bool qcDeviceFromTutk::writeTalkData(const uchar *, int)
{
    return false;
}

bool qcDeviceFromTutk::setMicSource(qcAudioCapture *source)
{
    std::lock_guard<std::mutex> lock(m_talkMutex);
    if (m_talkOn)
        m_mic = source;
    return true;
}

QList<TutkIoCtrlRecord> qcDeviceFromTutk::pendingIoCtrl() const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue;
}

// ---- device thread ----------------------------------------------------------

void qcDeviceFromTutk::report(int status)
{
    // A device being stopped reports nothing more.
    if (m_stop.stopRequested())
        return;
    P2pStatusCallback cb;
    void *user;
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        cb = m_statusCb;
        user = m_statusUser;
    }
    if (cb)
        cb(status, 0, user);
}

void qcDeviceFromTutk::closeSessionOnce()
{
    // Whoever takes the id closes it; a freed slot may already serve another device.
    const int sid = m_session.exchange(-1);
    if (sid >= 0)
        IOTC_Session_Close(sid);
}

void qcDeviceFromTutk::releaseSession()
{
    const int index = m_clientIndex.exchange(-1);
    if (index >= 0)
        avClientStop(index);
    m_avIndex = -1;
    closeSessionOnce();
}

int qcDeviceFromTutk::connectByUid()
{
    QString uid, account, password;
    {
        std::lock_guard<std::mutex> lock(m_paramMutex);
        uid = m_uid;
        account = m_account;
        password = m_password;
    }
    if (uid.size() > kMaxUidLength)
        return -1;
    const int sid = IOTC_Get_SessionID();
    if (sid < 0)
        return -1;
    m_session = sid;
    if (m_stop.stopRequested()) {
        closeSessionOnce();
        return -1;
    }
    const int r = IOTC_Connect_ByUID_Parallel(uid.toLatin1().constData(), sid);
    p2p::P2pSessionInfo info;
    IOTC_Session_Check(sid, &info);
    if (r < 0) {
        closeSessionOnce();
        return -1;
    }
    m_freeChannel = IOTC_Session_Get_Free_Channel(sid);
    uint32_t serviceType = 0;
    const int index = avClientStart(sid, account.toLatin1().constData(), password.toLatin1().constData(),
                                    m_timings.clientStartMs, &serviceType, 0);
    if (index < 0)
        closeSessionOnce();
    return index;
}

bool qcDeviceFromTutk::connectLoop()
{
    while (!m_connected && !m_stop.stopRequested()) {
        const int index = connectByUid();
        if (index < 0) {
            report(P2pConnectFailed);
            m_stop.sleepFor(m_timings.retryMs);
            continue;
        }
        m_avIndex = index;
        m_clientIndex = index;
        report(P2pConnected);
        m_connected = true;
        m_closing = false;
    }
    return m_connected;
}

void qcDeviceFromTutk::requestDeviceInfo()
{
    sendIoCtrl(kIoDeviceInfo, QByteArray(4, '\0'));
    // The reply is not used; the wait is cut into short slices so a stop is never held up.
    QByteArray buffer(1024, '\0');
    QElapsedTimer t;
    t.start();
    while (!m_stop.stopRequested() && t.elapsed() < m_timings.infoReplyMs) {
        unsigned type = 0;
        const int slice = int(qMin<qint64>(100, m_timings.infoReplyMs - t.elapsed()));
        const int r = avRecvIOCtrl(m_avIndex, &type, buffer.data(), buffer.size(), qMax(1, slice));
        if (r != p2p::kErrTimeout)
            break;
    }
}

void qcDeviceFromTutk::startWorkers()
{
    if (!m_ioWorker) {
        m_ioWorker = new GeneralThread;
        m_ioWorker->setFunction(&qcDeviceFromTutk::ioCtrlLoop);
        m_ioWorker->setContext(&m_workerMutex, this);
        m_ioWorker->start(QThread::NormalPriority);
    }
    if (!m_talkWorker) {
        m_talkWorker = new GeneralThread;
        m_talkWorker->setFunction(&qcDeviceFromTutk::talkLoop);
        m_talkWorker->setContext(&m_talkMutex, this);
        m_talkWorker->setInterval(1000);
        m_talkWorker->start(QThread::LowPriority);
    }
}

void qcDeviceFromTutk::stopWorkers()
{
    // Both loops watch the stop flag; a worker still inside a layer wait
    // returns once the session is closed.
    QElapsedTimer t;
    t.start();
    if (m_talkWorker)
        m_talkWorker->wait(1000);
    if (m_ioWorker)
        m_ioWorker->wait(qMax<qint64>(1, 1000 - t.elapsed()));
    const int index = m_clientIndex.exchange(-1);
    if (index >= 0 && m_connected)
        avClientStop(index);
    m_avIndex = -1;
    closeSessionOnce();
    for (GeneralThread **w : {&m_talkWorker, &m_ioWorker}) {
        if (*w) {
            (*w)->wait();
            delete *w;
            *w = nullptr;
        }
    }
}

int qcDeviceFromTutk::sendIoCtrl(unsigned type, const QByteArray &payload)
{
    return avSendIOCtrl(m_avIndex, type, payload.constData(), payload.size());
}

bool qcDeviceFromTutk::startStream()
{
    if (!m_connected)
        return false;
    const QByteArray start = twoWords(0, 0);
    m_channel = int(qFromLittleEndian<quint32>(start.constData()));
    if (sendIoCtrl(kIoStreamStart, QByteArray(2, '\0')) < 0 || sendIoCtrl(kIoVideoStart, start) < 0 ||
        sendIoCtrl(kIoAudioStart, start) < 0) {
        report(P2pSendFailed);
        return false;
    }
    report(P2pStreamStarted);
    switchStream(m_stream);
    return true;
}

void qcDeviceFromTutk::runReceivers()
{
    // Every start waits for a key frame, also after a reconnect: pictures
    // without their reference frame would decode as garbage.
    m_waitKey = true;
    GeneralThread audio, video;
    audio.setFunction(&qcDeviceFromTutk::audioLoop);
    video.setFunction(&qcDeviceFromTutk::videoLoop);
    for (GeneralThread *w : {&audio, &video}) {
        w->setContext(&m_recvMutex, this);
        w->setInterval(1000);
        w->start(QThread::NormalPriority);
    }
    audio.wait();
    video.wait();
}

void qcDeviceFromTutk::run()
{
    if (m_connected)
        return;
    if (connectLoop()) {
        requestDeviceInfo();
        startWorkers();
        m_closing = false;
        while (!m_stop.stopRequested()) {
            if (m_startRequested) {
                startStream();
                runReceivers();
                if (!m_stop.stopRequested()) {
                    sendIoCtrl(kIoStreamStop, QByteArray(8, '\0'));
                    m_connected = false;
                    // Release the old session before asking for a new one.
                    releaseSession();
                    if (connectLoop()) {
                        startWorkers();
                        continue;
                    }
                } else {
                    m_startRequested = false;
                }
            }
            if (m_stop.stopRequested()) {
                if (m_connected)
                    sendIoCtrl(kIoStreamStop, QByteArray(8, '\0'));
                break;
            }
            m_stop.sleepFor(m_timings.devicePauseMs);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_talkMutex);
        m_talkOn = false;
    }
    stopWorkers();
    m_connected = false;
}

void qcDeviceFromTutk::sessionGone()
{
    m_connected = false;
    // Video, audio and a pan-tilt-zoom send notice the same loss; it is told
    // once. Taken with the receivers' lock: a frame being handed over lands
    // before the loss is told, and none of that session follows it (the
    // consumer empties its buffers on the loss).
    int index;
    {
        std::lock_guard<std::mutex> lock(m_recvMutex);
        index = m_avIndex.exchange(-1);
    }
    if (index >= 0)
        report(P2pLost);
}

// ---- workers ----------------------------------------------------------------

void qcDeviceFromTutk::videoLoop(void *, int, QList<_st_general_item *> *, void *user)
{
    static_cast<qcDeviceFromTutk *>(user)->runVideo();
}

void qcDeviceFromTutk::audioLoop(void *, int, QList<_st_general_item *> *, void *user)
{
    static_cast<qcDeviceFromTutk *>(user)->runAudio();
}

void qcDeviceFromTutk::ioCtrlLoop(void *, int, QList<_st_general_item *> *, void *user)
{
    static_cast<qcDeviceFromTutk *>(user)->runIoCtrl();
}

void qcDeviceFromTutk::talkLoop(void *, int, QList<_st_general_item *> *, void *user)
{
    platform::applyThreadPriority(QThread::LowPriority);
    static_cast<qcDeviceFromTutk *>(user)->runTalk();
}

void qcDeviceFromTutk::runVideo()
{
    if (m_videoBuffer.empty())
        m_videoBuffer.assign(kVideoBufferBytes + kVideoPadBytes, 0);
    uchar *buffer = m_videoBuffer.data();
    const int index = m_avIndex;
    int noData = 0;
    int withData = 0;
    bool warming = true;
    int lastWidth = 0, lastHeight = 0;
    unsigned char info[p2p::kFrameInfoSize];

    while (!m_stop.stopRequested() && !m_closing) {
        int actual = 0, expected = 0, infoSize = 0;
        unsigned number = 0;
        std::memset(info, 0, sizeof info);
        const int n = avRecvFrameData2(index, reinterpret_cast<char *>(buffer), kVideoBufferBytes, &actual, &expected,
                                       reinterpret_cast<char *>(info), sizeof info, &infoSize, &number);
        if (n == p2p::kErrNoData) {
            m_stop.sleepFor(m_timings.videoIdleMs);
            if (++noData > m_timings.videoIdleLimit) {
                m_connected = false;
                report(P2pLost);
                noData = 0;
            }
            continue;
        }
        noData = 0;
        if (n > 0) {
            if (warming && ++withData > 20)
                warming = false;
            if (!m_connected)
                m_connected = true;
        }
        if (n == p2p::kErrFrameLost || n == p2p::kErrFrameTooBig)
            continue;
        if (sessionEnded(n)) {
            sessionGone();
            return;
        }
        if (n <= 0)
            continue;

        const p2p::FrameInfo fi = p2p::FrameInfo::read(info);
        const bool key = fi.flags & p2p::kVideoKeyFrame;
        const int codec = videoCodecOf(fi.codec);
        const int rate = fi.frameRate >= 6 && fi.frameRate <= 59 ? fi.frameRate : -1;
        if (m_firstVideo) {
            std::lock_guard<std::mutex> lock(m_mediaMutex);
            m_media.videoCodec = codec;
            m_media.width = -1;
            m_media.height = -1;
            m_media.frameRate = rate;
            if (key) {
                const uint32_t size = ParseSpsResolution(buffer, n, codec == 18 ? 18 : 17);
                if (size) {
                    m_media.width = lastWidth = int(size >> 16);
                    m_media.height = lastHeight = int(size & 0xFFFF);
                    m_sizeKnown = true;
                }
                m_firstVideo = false;
            }
        } else if (key) {
            const uint32_t size = ParseSpsResolution(buffer, n, codec == 18 ? 18 : 17);
            if (size) {
                lastWidth = int(size >> 16);
                lastHeight = int(size & 0xFFFF);
            }
            bool changed;
            {
                std::lock_guard<std::mutex> lock(m_mediaMutex);
                changed = (fi.codec == p2p::kCodecH264 && m_media.videoCodec != 17) ||
                          (fi.codec == p2p::kCodecH265 && m_media.videoCodec != 18) ||
                          (size && (lastWidth != m_media.width || lastHeight != m_media.height)) ||
                          rate != m_media.frameRate;
                if (changed) {
                    m_media.videoCodec = codec;
                    // An SPS that cannot be read keeps the stored size.
                    if (size) {
                        m_media.width = lastWidth;
                        m_media.height = lastHeight;
                        m_sizeKnown = true;
                    }
                    m_media.frameRate = rate;
                }
            }
            if (changed)
                report(P2pFormatChanged);
        }

        if (m_sizeKnown && (!warming || m_audioAccepted))
            m_streamReady = true;

        P2pVideoCallback cb;
        void *user;
        {
            std::lock_guard<std::mutex> lock(m_callbackMutex);
            cb = m_videoCb;
            user = m_videoUser;
        }
        if (!cb || m_closing || !m_streamReady || (m_waitKey && !key))
            continue;
        // The callback reads 16 bytes past the frame; they must not carry an
        // older frame's tail.
        std::memset(buffer + n, 0, kVideoPadBytes);
        std::lock_guard<std::mutex> lock(m_recvMutex);
        // The other receiver already told this session's loss.
        if (m_avIndex != index)
            continue;
        cb(key ? kP2pKeyFrame : kP2pOtherFrame, buffer, n + 16, fi.timestampMs, user);
        m_waitKey = false;
    }
}

void qcDeviceFromTutk::runAudio()
{
    if (m_audioBuffer.empty())
        m_audioBuffer.assign(kAudioBufferBytes, 0);
    uchar *buffer = m_audioBuffer.data();
    const int index = m_avIndex;
    int empty = 0;
    unsigned char info[p2p::kFrameInfoSize];

    while (!m_stop.stopRequested() && !m_closing) {
        unsigned number = 0;
        std::memset(info, 0, sizeof info);
        const int n = avRecvAudioData(index, reinterpret_cast<char *>(buffer), kAudioBufferBytes,
                                      reinterpret_cast<char *>(info), sizeof info, &number);
        if (n == p2p::kErrNoData) {
            m_stop.sleepFor(m_timings.audioIdleMs);
            if (++empty > m_timings.audioIdleLimit)
                return;
            continue;
        }
        empty = 0;
        if (n == p2p::kErrFrameLost || n == p2p::kErrFrameTooBig)
            continue;
        if (sessionEnded(n)) {
            sessionGone();
            return;
        }
        if (n <= 0)
            continue;

        const p2p::FrameInfo fi = p2p::FrameInfo::read(info);
        const int codec = audioCodecOf(fi.codec);
        const int rate = sampleRateOf(fi.flags >> 2);
        const int bits = (fi.flags & p2p::kAudio16Bit) ? 16 : 8;
        const int channels = (codec == 21 || (fi.flags & p2p::kAudioStereo)) ? 2 : 1;
        if (m_firstAudio) {
            std::lock_guard<std::mutex> lock(m_mediaMutex);
            m_media.audioCodec = codec;
            m_media.sampleRate = rate;
            m_media.bitsPerSample = bits;
            m_media.channels = channels;
            if (rate > 8000) {
                m_media.audioCodec = 16;
                return;
            }
            m_audioAccepted = true;
            m_firstAudio = false;
        } else {
            bool changed;
            {
                std::lock_guard<std::mutex> lock(m_mediaMutex);
                changed = codec != m_media.audioCodec || rate != m_media.sampleRate || bits != m_media.bitsPerSample ||
                          channels != m_media.channels;
            }
            if (changed)
                report(P2pFormatChanged);
        }
        P2pAudioCallback cb;
        void *user;
        {
            std::lock_guard<std::mutex> lock(m_callbackMutex);
            cb = m_audioCb;
            user = m_audioUser;
        }
        if (!cb || m_waitKey || m_closing)
            continue;
        std::lock_guard<std::mutex> lock(m_recvMutex);
        if (m_avIndex != index)
            continue;
        cb(buffer, n, fi.timestampMs, user);
    }
}

void qcDeviceFromTutk::queueRecord(TutkIoCtrlRecord record)
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_queue.append(std::move(record));
}

bool qcDeviceFromTutk::sendPtz(const TutkIoCtrlRecord &record)
{
    const int code = ptzCodeOf(record.command);
    if (code < 0)
        return false;
    QByteArray payload(8, '\0');
    payload[0] = char(code);
    payload[1] = char(record.command == 36 ? record.parameter : 0);
    payload[5] = char(m_channel);
    const int r = sendIoCtrl(kIoPtz, payload);
    if (r == p2p::kErrFrameLost || r == p2p::kErrFrameTooBig)
        return false;
    if (sessionEnded(r)) {
        sessionGone();
        return false;
    }
    return r == 0;
}

void qcDeviceFromTutk::runIoCtrl()
{
    while (!m_stop.stopRequested()) {
        TutkIoCtrlRecord record;
        bool have = false;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (!m_queue.isEmpty()) {
                record = m_queue.takeFirst();
                have = true;
            }
        }
        if (!have) {
            m_stop.sleepFor(m_timings.ioctrlPauseMs);
            continue;
        }
        if (record.kind == 1)
            sendPtz(record);
    }
}

bool qcDeviceFromTutk::talkIsOn()
{
    std::lock_guard<std::mutex> lock(m_talkMutex);
    return m_talkOn && !m_stop.stopRequested();
}

void qcDeviceFromTutk::runTalk()
{
    unsigned char talkInfo[p2p::kFrameInfoSize];
    p2p::FrameInfo fi;
    fi.codec = p2p::kCodecPcm;
    fi.flags = p2p::kAudio16Bit;
    fi.write(talkInfo);

    while (!m_stop.stopRequested()) {
        if (talkIsOn()) {
            const int channel = m_freeChannel;
            if (sendIoCtrl(kIoTalkStart, twoWords(quint32(channel), 0)) != 0) {
                m_stop.sleepFor(m_timings.talkRetryMs);
                continue;
            }
            int resend = 0;
            const int sendIndex =
                avServStart3(m_session, acceptEveryAccount, m_timings.servStartSec, 0, channel, &resend);
            if (sendIndex >= 0) {
                QByteArray buffer(1024, '\0');
                while (talkIsOn()) {
                    qcAudioCapture *mic;
                    {
                        std::lock_guard<std::mutex> lock(m_talkMutex);
                        mic = m_mic;
                    }
                    if (!mic) {
                        m_stop.sleepFor(m_timings.talkRetryMs);
                        continue;
                    }
                    if (mic->readRaw(buffer.data(), 640) == 0) {
                        m_stop.sleepFor(m_timings.talkReadMs);
                        continue;
                    }
                    if (avSendAudioData(sendIndex, buffer.constData(), 640, reinterpret_cast<char *>(talkInfo),
                                        sizeof talkInfo) != 0)
                        break;
                }
                avServStop(sendIndex);
                sendIoCtrl(kIoTalkEnd, twoWords(quint32(channel), 0));
            }
        }
        // A refused or failed talk start waits too: no 0x350 storm.
        m_stop.sleepFor(m_timings.talkPassMs);
    }
}
