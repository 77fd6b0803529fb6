#include "device/playstream.h"

#include "device/httprequest.h"
#include "platform/net/tcpclient.h"

#include <QDebug>
#include <cstring>

PlayStream::PlayStream(const QString &ip, const QString &port, const QString &user, const QString &password,
                       StreamDataCallback callback, void *userPointer, int mode)
    : m_ip(ip), m_port(port), m_user(user), m_password(password), m_mode(mode), m_callback(callback),
      m_userPointer(userPointer)
{}

PlayStream::~PlayStream()
{
    m_running = false;
    wait();
}

bool PlayStream::prepareLiveRequest(int streamType)
{
    if (m_mode != kModeLive || (streamType != kMainStream && streamType != kSubStream))
        return false;
    m_request = httprequest::liveStream(streamType == kMainStream ? 0 : 1, m_user, m_password);
    return true;
}

bool PlayStream::stop()
{
    m_running = false;
    wait();
    return true;
}

void PlayStream::setStatus(int status)
{
    m_status = status;
    emit sigConnectStatus(status);
}

void PlayStream::run()
{
    platform::TcpClient socket;
    bool portOk = false;
    const int port = m_port.toInt(&portOk);
    const QByteArray address = m_ip.toLatin1();
    auto stopped = [this] { return !m_running.load(); };

    const auto connected = socket.connect(address.constData(), portOk ? port : -1, m_timing.connectMs, stopped);
    if (connected == platform::TcpClient::BadAddress || connected == platform::TcpClient::SocketFailed ||
        connected == platform::TcpClient::Stopped)
        return;
    if (connected != platform::TcpClient::Connected) {
        setStatus(StatusFailed);
        return;
    }

    // The request goes out whole within the send limit.
    qsizetype sent = 0;
    while (sent < m_request.size()) {
        const int w = socket.waitWritable(m_timing.sendMs);
        if (w == platform::TcpClient::StoppedWait)
            return;
        const ssize_t n = w == platform::TcpClient::Ready
                              ? socket.send(m_request.constData() + sent, size_t(m_request.size() - sent))
                              : -1;
        if (n < 0) {
            setStatus(StatusFailed);
            return;
        }
        sent += n;
    }
    if (m_request.isEmpty()) {
        setStatus(StatusFailed);
        return;
    }

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[StreamFrameParser::kBufferSize]);
    int fill = 0;
    int w = socket.waitReadable(m_timing.answerMs);
    if (w == platform::TcpClient::StoppedWait)
        return;
    if (w == platform::TcpClient::Ready) {
        for (;;) {
            const ssize_t n = socket.recv(buffer.get() + fill, size_t(StreamFrameParser::kBufferSize - fill));
            if (n <= 0)
                break;
            fill += int(n);
            if (fill > 1024 || socket.waitReadable(0) != platform::TcpClient::Ready)
                break;
        }
    }
    if (fill < 1 || !httprequest::hasHttpOk(reinterpret_cast<const char *>(buffer.get()), fill)) {
        m_loginRefused = httprequest::isUnauthorized(reinterpret_cast<const char *>(buffer.get()), fill);
        setStatus(StatusFailed);
        return;
    }
    setStatus(StatusConnected);

    StreamFrameParser parser(m_callback, m_userPointer, m_clock, m_pictures);
    parser.onProgress = [this](int second) { emit sigProgress(second); };
    parser.onTransComplete = [this] { emit sigTransComplete(); };

    // The answer's own bytes are scanned like stream data; the text is skipped.
    auto consume = [&] {
        if (fill < kFrameHeadSize)
            return;
        const int done = parser.scan(buffer.get(), fill);
        if (done > 0) {
            if (done < fill)
                std::memmove(buffer.get(), buffer.get() + done, size_t(fill - done));
            fill -= done;
        }
        if (fill >= StreamFrameParser::kBufferSize)
            fill = 0;
    };
    consume();

    int emptyWaits = 0;
    while (m_running) {
        // One wake-up per arrival: the receive call itself does the waiting.
        ssize_t n = 0;
        w = socket.recvWait(buffer.get() + fill, size_t(StreamFrameParser::kBufferSize - fill), m_timing.receiveMs, &n);
        if (w == platform::TcpClient::StoppedWait)
            break;
        if (w != platform::TcpClient::Ready) {
            if (emptyWaits < m_timing.emptyWaitsAllowed) {
                ++emptyWaits;
                continue;
            }
            setStatus(StatusLost);
            break;
        }
        emptyWaits = 0;
        if (n <= 0) {
            setStatus(StatusLost);
            break;
        }
        fill += int(n);
        consume();
    }
    if (parser.droppedHeldAudio() > 0)
        qWarning().noquote() << "stream of" << m_ip + ':' << parser.droppedHeldAudio()
                             << "sound frames held at midnight were dropped for room";
}
