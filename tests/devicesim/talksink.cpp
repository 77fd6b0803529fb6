#include "talksink.h"

#include <QtEndian>

#include <sys/socket.h>

#include "exchange.h"

namespace devicesim {

int16_t TalkSink::decodeMuLaw(uint8_t code)
{
    const int u = ~code & 0xFF;
    const int exponent = (u >> 4) & 0x07;
    const int mantissa = u & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return int16_t((u & 0x80) ? -magnitude : magnitude);
}

double TalkSink::frequency(const QByteArray &mulaw, int rate)
{
    if (mulaw.size() < 2)
        return 0;
    int crossings = 0;
    int16_t prev = decodeMuLaw(uint8_t(mulaw[0]));
    for (int i = 1; i < mulaw.size(); ++i) {
        const int16_t v = decodeMuLaw(uint8_t(mulaw[i]));
        if ((prev < 0 && v >= 0) || (prev >= 0 && v < 0))
            ++crossings;
        prev = v;
    }
    return crossings / 2.0 * rate / mulaw.size();
}

int TalkSink::peak(const QByteArray &mulaw)
{
    int p = 0;
    for (char c : mulaw)
        p = qMax(p, qAbs(int(decodeMuLaw(uint8_t(c)))));
    return p;
}

void TalkSink::handle(Exchange &exchange)
{
    QByteArray rest;
    QTcpSocket *socket = exchange.takeSocket(&rest);
    if (!socket)
        return;
    m_sockets.append(socket);
    m_pending = rest;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_record.connections;
    }
    QByteArray answer;
    int status = 200;
    switch (Answer(m_answer.load())) {
    case Answer::Ok:
        answer = "HTTP/1.0 200 OK\r\n\r\n";
        break;
    case Answer::Http11:
        answer = "HTTP/1.1 200 OK\r\n\r\n";
        break;
    case Answer::Long: {
        // 2,001 bytes: one more than the client accepts.
        answer = "HTTP/1.0 200 OK\r\nX-Pad: ";
        answer += QByteArray(2001 - answer.size() - 4, 'p');
        answer += "\r\n\r\n";
        break;
    }
    case Answer::None:
        status = 0;
        break;
    }
    if (!answer.isEmpty()) {
        if (m_held)
            m_heldAnswers.append({socket, answer});
        else
            this->answer(socket, answer);
    }
    m_device.logAnswer(exchange.logIndex(), status, status ? QString() : QStringLiteral("no answer"));
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { onData(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
        std::function<void(const Record &)> observer;
        Record copy;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_record.peerClosed = true;
            observer = m_endObserver;
            copy = m_record;
        }
        if (observer)
            observer(copy);
        m_sockets.removeAll(socket);
        socket->deleteLater();
    });
    if (!m_pending.isEmpty())
        onData(socket);
}

void TalkSink::onData(QTcpSocket *socket)
{
    if (!m_reading)
        return;
    const QByteArray bytes = socket->readAll();
    m_pending += bytes;
    bool close = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_record.bytesAfterAnswer += bytes.size();
    if (m_record.opening.size() < 44) {
        const int take = qMin(44 - int(m_record.opening.size()), int(m_pending.size()));
        m_record.opening += m_pending.left(take);
        m_pending.remove(0, take);
    }
    while (m_pending.size() >= 344) {
        const auto *p = reinterpret_cast<const uchar *>(m_pending.constData());
        const bool good = qFromLittleEndian<quint32>(p) == 0x20150723 && p[4] == 3 &&
                          qFromLittleEndian<qint32>(p + 8) == 320 && qFromLittleEndian<quint64>(p + 16) == 0;
        const uint32_t seq = qFromLittleEndian<quint32>(p + 12);
        if (!good)
            ++m_record.badFrames;
        if (m_record.frames == 0)
            m_record.firstSequence = seq;
        else if (seq != m_record.lastSequence + 1)
            m_record.continuous = false;
        m_record.lastSequence = seq;
        ++m_record.frames;
        m_record.audio += m_pending.mid(24, 320);
        m_pending.remove(0, 344);
        const int closeAfter = m_closeAfter.load();
        if (closeAfter > 0 && m_record.frames >= closeAfter) {
            close = true;
            break;
        }
    }
    lock.unlock();
    // Closing may emit disconnected at once, whose handler takes the lock.
    if (close)
        socket->disconnectFromHost();
}

void TalkSink::shutdown()
{
    for (const auto &s : qAsConst(m_sockets)) {
        if (s) {
            s->disconnect();
            s->abort();
            delete s;
        }
    }
    m_sockets.clear();
}

void TalkSink::setAnswer(Answer answer)
{
    m_answer = int(answer);
}

void TalkSink::answer(QTcpSocket *socket, const QByteArray &bytes)
{
    socket->write(bytes);
    socket->flush();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record.answeredAt = steadyMs();
}

void TalkSink::holdAnswers(bool held)
{
    m_device.runOnDeviceThread([this, held] {
        m_held = held;
        if (held)
            return;
        for (const auto &a : qAsConst(m_heldAnswers))
            if (a.first)
                answer(a.first, a.second);
        m_heldAnswers.clear();
    });
}

void TalkSink::setEndObserver(const std::function<void(const Record &)> &observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endObserver = observer;
}

void TalkSink::setCloseAfter(int frames)
{
    m_closeAfter = frames;
}

void TalkSink::setReading(bool reading)
{
    m_device.runOnDeviceThread([this, reading] {
        m_reading = reading;
        for (const auto &s : qAsConst(m_sockets)) {
            if (!s)
                continue;
            if (!reading) {
                const int bytes = 2048;
                ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
            }
            // A bounded buffer stops Qt reading from the socket for us.
            s->setReadBufferSize(reading ? 0 : 1);
            if (reading)
                onData(s);
        }
    });
}

TalkSink::Record TalkSink::record() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Record r = m_record;
    // Copies of their own: a shared buffer would be reallocated in place by
    // the device thread once the caller lets go of it, after a reference
    // count check that ThreadSanitizer cannot follow.
    r.opening = QByteArray(m_record.opening.constData(), m_record.opening.size());
    r.audio = QByteArray(m_record.audio.constData(), m_record.audio.size());
    return r;
}

void TalkSink::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record = Record();
}

} // namespace devicesim
