#include "device/qccommonstream.h"

#include "device/qcdevicefromtutk.h"
#include "platform/clock.h"

namespace {

std::mutex g_factoryMutex;
qcCommonStream::DeviceFactory g_factory;

constexpr int kOpenType = 3;

// Control ids of the pan-tilt-zoom panel and the device commands they become.
int deviceCommandOf(int controlId)
{
    switch (controlId) {
    case 16:
        return 26;
    case 10:
        return 27;
    case 11:
        return 28;
    case 12:
        return 29;
    case 13:
        return 30;
    case 14:
        return 31;
    case 15:
        return 32;
    case 32:
        return 33;
    case 33:
        return 38;
    case 34:
        return 37;
    case 35:
        return 39;
    case 36:
        return 40;
    case 39:
        return 35;
    default:
        return -1;
    }
}

// Audio number of the stream information; 15 with the audio flag clear for
// codecs no consumer plays.
int audioNumberOf(int deviceCodec)
{
    switch (deviceCodec) {
    case 20:
        return 0;
    case 19:
        return 1;
    case 21:
        return 2;
    case 22:
        return 3;
    case 23:
        return 4;
    case 24:
        return 5;
    default:
        return 15;
    }
}

} // namespace

qcCommonStream::qcCommonStream(const QString &id, const QString &port, const QString &user, const QString &password,
                               const QString &protocol)
    : qcP2PStreamInterface(nullptr), m_id(id), m_port(port), m_user(user), m_password(password), m_protocol(protocol)
{}

qcCommonStream::~qcCommonStream()
{
    if (m_device) {
        m_device->cancelOpen();
        m_device->disconnectDevice();
        delete m_device;
        m_device = nullptr;
    }
    m_callbacks.clear();
}

void qcCommonStream::setDeviceFactory(DeviceFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}

CameraDevice *qcCommonStream::makeDefaultDevice(const QString &protocol)
{
    if (protocol == QLatin1String(kP2pProtocolName))
        return new qcDeviceFromTutk;
    return nullptr;
}

void qcCommonStream::setClock(platform::Clock *clock)
{
    m_clock = clock;
}

qint64 qcCommonStream::now() const
{
    return m_clock ? m_clock->msecsOfDay() : platform::msecsOfDay();
}

bool qcCommonStream::addDataCallback(StreamDataCallback fn, void *user)
{
    if (!fn || !user)
        return false;
    if (m_device) {
        // The map is read without a lock by the device's threads once it
        // runs: a pair already registered is fine, anything else is refused.
        const auto it = m_callbacks.find(fn);
        if (it != m_callbacks.end() && it->second == user)
            return true;
        Q_ASSERT_X(false, "qcCommonStream", "callbacks are registered before openDevice");
        return false;
    }
    m_callbacks[fn] = user;
    return true;
}

QString qcCommonStream::getDeviceId()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opened ? m_id : QString();
}

bool qcCommonStream::isConnected()
{
    return m_device && m_device->isConnected();
}

bool qcCommonStream::openDevice(int type)
{
    if (type != kOpenType || m_device)
        return false;
    DeviceFactory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = g_factory;
    }
    m_device = factory ? factory(m_protocol) : makeDefaultDevice(m_protocol);
    if (!m_device)
        return false;
    if (!m_device->setConnectParams(m_id, m_port, m_user, m_password))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_opened = true;
    }
    return m_device->connectDevice();
}

bool qcCommonStream::setCallbacks()
{
    if (!m_device)
        return false;
    m_device->setVideoCallback(&qcCommonStream::onVideo, this);
    m_device->setAudioCallback(&qcCommonStream::onAudio, this);
    m_device->setStatusCallback(&qcCommonStream::onStatus, this);
    return m_device->openStream(8, 1);
}

void qcCommonStream::closeStream()
{
    if (m_device)
        m_device->closeStream();
    m_firstVideo = true;
    m_firstAudio = true;
}

void qcCommonStream::setConnectInfo(const QString &id, const QString &port, const QString &user,
                                    const QString &password, const QString &protocol)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_id = id;
    }
    m_port = port;
    m_user = user;
    m_password = password;
    m_protocol = protocol;
    if (m_device)
        m_device->setConnectParams(id, port, user, password);
}

bool qcCommonStream::startTalk(qcAudioCapture *source)
{
    if (!m_device || m_device->protocolName() != QLatin1String(kP2pProtocolName))
        return false;
    m_device->startTalk();
    if (auto *p2p = dynamic_cast<qcDeviceFromTutk *>(m_device))
        p2p->setMicSource(source);
    return true;
}

bool qcCommonStream::stopTalk()
{
    if (!m_device)
        return false;
    m_device->stopTalk();
    return true;
}

bool qcCommonStream::cancelOpen()
{
    return m_device ? m_device->cancelOpen() : true;
}

bool qcCommonStream::ptzControl(int controlId)
{
    const int command = deviceCommandOf(controlId);
    if (!m_device || command < 0)
        return false;
    return m_device->ptzControl(command, 0);
}

bool qcCommonStream::stopPtz()
{
    return m_device ? m_device->ptzControl(16, 0) : false;
}

void qcCommonStream::dispatch(const uchar *data, int length, int kind, int subkind, qint64 timestamp)
{
    for (const auto &entry : m_callbacks)
        entry.first(data, length, kind, subkind, timestamp, entry.second);
}

qint64 qcCommonStream::retimeSound(qint64 deviceTs)
{
    std::lock_guard<std::mutex> lock(m_timingMutex);
    if (m_pictures.started()) {
        const qint64 stamp = m_pictures.sound(deviceTs, now()).stamp % StreamClock::kDayMs;
        return stamp < 0 ? stamp + StreamClock::kDayMs : stamp;
    }
    const qint64 local = now();
    // Before the first picture: a device clock that drifted, or the local
    // day that wrapped, re-anchors the sound on the local clock instead of
    // jumping.
    if (m_audioBase - local > StreamClock::kJumpMs || local - m_audioBase > StreamClock::kJumpMs) {
        m_audioBase = local;
        m_lastAudioTs = deviceTs;
    }
    m_audioBase += deviceTs - m_lastAudioTs;
    m_lastAudioTs = deviceTs;
    return m_audioBase;
}

int qcCommonStream::onVideo(int frameType, const uchar *data, int length, quint64 timestamp, void *user)
{
    auto *self = static_cast<qcCommonStream *>(user);
    if (!self)
        return -1;
    const qint64 ts = qint64(timestamp);
    if (self->m_firstVideo) {
        P2pMediaInfo mi;
        if (self->m_device->getMediaInfo(8, &mi)) {
            const int audio = audioNumberOf(mi.audioCodec);
            StreamInfo_t si{};
            si.flags = 0x1 | (audio != 15 ? 0x2 : 0);
            si.width = quint16(mi.width & 0xFFFF);
            si.height = quint16(mi.height & 0xFFFF);
            si.video = mi.videoCodec == 17 ? 0 : 1;
            si.sampleRate = quint16(mi.sampleRate & 0xFFFF);
            si.audio = quint32(audio) | 0x100 | (mi.channels == 2 ? (1u << 10) : 0);
            uchar bytes[kStreamInfoSize];
            wire::writeStreamInfo(bytes, si);
            self->dispatch(bytes, kStreamInfoSize, KindStreamInfo, -1, -1);
        }
        self->m_firstVideo = false;
    }
    qint64 stamp;
    {
        std::lock_guard<std::mutex> lock(self->m_timingMutex);
        stamp = self->m_pictures.take(ts, self->now()).stamp;
    }
    self->dispatch(data, length, KindVideo, frameType == kP2pKeyFrame ? 1 : 0, stamp);
    return 0;
}

int qcCommonStream::onAudio(const uchar *data, int length, quint64 timestamp, void *user)
{
    auto *self = static_cast<qcCommonStream *>(user);
    if (!self)
        return -1;
    const qint64 ts = qint64(timestamp);
    if (self->m_firstAudio) {
        self->m_firstAudio = false;
        std::lock_guard<std::mutex> lock(self->m_timingMutex);
        self->m_audioBase = self->now();
        self->m_lastAudioTs = ts;
    }
    const qint64 stamp = self->retimeSound(ts);
    self->dispatch(data, length, KindAudio, -1, stamp);
    return 0;
}

int qcCommonStream::onStatus(int status, int, void *user)
{
    auto *self = static_cast<qcCommonStream *>(user);
    if (!self)
        return -1;
    switch (status) {
    case P2pLost:
        emit self->sigConnectStatus(StatusLost);
        break;
    case P2pSendFailed:
    case 4:
        emit self->sigConnectStatus(StatusFailed);
        break;
    case P2pConnected:
        emit self->sigConnectStatus(StatusConnected);
        break;
    default:
        break;
    }
    return 0;
}
