#include "device/qcdeviceintercom.h"

#include "device/framehead.h"
#include "device/httprequest.h"
#include "device/qcaudiocapture.h"
#include "device/qcringbuffer.h"
#include "platform/net/framesender.h"
#include "platform/net/tcpclient.h"

#include <QDebug>
#include <memory>
#include <sys/socket.h>

qcDeviceIntercom::qcDeviceIntercom(QObject *parent) : QThread(parent) {}

qcDeviceIntercom::~qcDeviceIntercom()
{
    m_stop.requestStop();
    wait();
    joined();
}

void qcDeviceIntercom::joined() const
{
    m_runsEnded.load(std::memory_order_acquire);
}

void qcDeviceIntercom::setParams(const QString &ip, const QString &port, const QString &user, const QString &password,
                                 qcAudioCapture *source)
{
    m_ip = ip;
    m_port = port;
    m_user = user;
    m_password = password;
    if (source)
        m_source = source;
}

bool qcDeviceIntercom::stopIntercom()
{
    m_stop.requestStop();
    const bool ended = wait();
    joined();
    return ended;
}

QByteArray qcDeviceIntercom::openingFrame()
{
    // Written into a buffer of known size: through QByteArray::data() the
    // compiler cannot rule out the shared empty array and warns on every store.
    unsigned char p[kOpeningFrameSize] = {};
    FrameHead_t head{};
    head.magic = kFrameMagic;
    head.type = FrameStreamInfo;
    head.length = kStreamInfoSize;
    wire::writeFrameHead(p, head);
    StreamInfo_t info{};
    info.flags = 0x2;
    info.sampleRate = 8000;
    info.audio = AudioMuLaw | (1u << 8);
    wire::writeStreamInfo(p + kFrameHeadSize, info);
    return QByteArray(reinterpret_cast<const char *>(p), kOpeningFrameSize);
}

namespace {

// Sends all bytes within the time limit; false on failure or stop.
bool sendAll(platform::TcpClient &socket, const QByteArray &bytes, int timeoutMs)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (socket.waitWritable(timeoutMs) != platform::TcpClient::Ready)
            return false;
        const ssize_t n = socket.send(bytes.constData() + sent, size_t(bytes.size() - sent));
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

void qcDeviceIntercom::run()
{
    talk();
    // Whatever ended the talk but the stop is its failure.
    m_failed = !m_stop.stopRequested();
    m_runsEnded.fetch_add(1, std::memory_order_release);
}

void qcDeviceIntercom::talk()
{
    if (m_ip.isEmpty() || m_port.isEmpty() || m_user.isEmpty() || m_password.isEmpty())
        return;
    // The operator speaks once the button shows talking: what the microphone
    // records from now on goes to the device, also what it records while the
    // device answers; nothing from before.
    if (m_source)
        m_source->beginTalk();
    platform::TcpClient socket;
    auto stopped = [this] { return m_stop.stopRequested(); };
    bool portOk = false;
    const int port = m_port.toInt(&portOk);
    if (socket.connect(m_ip.toLatin1().constData(), portOk ? port : -1, m_timing.connectMs, stopped) !=
        platform::TcpClient::Connected)
        return;
    if (m_timing.sendBufferBytes > 0)
        ::setsockopt(socket.fd(), SOL_SOCKET, SO_SNDBUF, &m_timing.sendBufferBytes, sizeof m_timing.sendBufferBytes);
    if (!sendAll(socket, httprequest::audioTalk(m_user, m_password), m_timing.sendMs))
        return;

    // The answer ends with its header's blank line; a device that sends none
    // has answered once it is quiet for the answer time. Either way at most
    // answerMaxBytes. A device that answers and then stays open and quiet is
    // the usual case: waiting for its silence would cost the talk's start.
    QByteArray answer;
    char buf[512];
    for (;;) {
        const int w = socket.waitReadable(m_timing.answerMs);
        if (w == platform::TcpClient::StoppedWait || w == platform::TcpClient::Error)
            return;
        if (w == platform::TcpClient::Timeout)
            break;
        const ssize_t n = socket.recv(buf, sizeof buf);
        if (n <= 0)
            return;
        answer.append(buf, int(n));
        const qsizetype end = httprequest::headerEnd(answer);
        if ((end < 0 ? answer.size() : end) > m_timing.answerMaxBytes)
            return;
        if (end >= 0)
            break;
    }
    if (!httprequest::hasHttpOk(answer))
        return;
    if (!m_stop.sleepFor(m_timing.pauseMs))
        return;
    auto queue = std::make_unique<qcRingBuffer>();
    queue->allocate(2 * 1024 * 1024, false);
    // Started before the opening frame goes out: a device that has it sees
    // a talk that started, and one that breaks the connection from here on
    // dropped a talk it took.
    m_talkStarted = true;
    if (!sendAll(socket, openingFrame(), m_timing.sendMs))
        return;
    qDebug() << "----Start Intercom----";

    uint32_t sequence = 1;
    platform::FrameSender sender(socket);
    bool broken = false;
    QByteArray frame(kFrameHeadSize + 1024, '\0');
    auto *p = reinterpret_cast<unsigned char *>(frame.data());
    // A socket that cannot take a frame costs that frame only; the next
    // sequence number goes to the next frame sent, so the device sees a
    // pause, not a gap.
    auto sendBlock = [&](int length) {
        FrameHead_t head{};
        head.magic = kFrameMagic;
        head.type = FrameAudio;
        head.length = length;
        head.sequence = sequence;
        wire::writeFrameHead(p, head);
        const auto result = sender.send(p, size_t(kFrameHeadSize + length));
        if (result == platform::FrameSender::Sent)
            ++sequence;
        m_droppedFrames = sender.dropped();
        broken = result == platform::FrameSender::Failed;
    };
    while (!broken && !m_stop.stopRequested()) {
        if (m_source) {
            // Every block the microphone's pace has reached goes now, in
            // order: the device gets an even stream however the input lumps
            // its samples.
            while (!broken && !m_stop.stopRequested() &&
                   m_source->readEncoded(p + kFrameHeadSize, kBlockSamples, qcAudioCapture::Due) == kBlockSamples)
                sendBlock(kBlockSamples);
            m_stop.sleepFor(10);
        } else {
            unsigned int length = 0;
            if (queue->count() > 0 && queue->pop(p + kFrameHeadSize, 1024, &length)) {
                if (length >= 1 && length <= 639)
                    sendBlock(int(length));
            } else {
                m_stop.sleepFor(10);
            }
        }
    }
    if (m_source) {
        // What was recorded before the stop still goes: with an input that
        // lumps two seconds, that is the last two seconds of the talk.
        while (!broken && m_source->readEncoded(p + kFrameHeadSize, kBlockSamples) == kBlockSamples)
            sendBlock(kBlockSamples);
        m_droppedMs = int(m_source->trimmedBytes() / 16) + m_droppedFrames * (kBlockSamples / 8);
    }
    m_source = nullptr;
    if (broken)
        qDebug() << "talk connection to" << m_ip << "broke";
    qDebug() << "----Audio Intercom Stoped----";
}
