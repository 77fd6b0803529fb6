#include "livestream.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <time.h>

#include "exchange.h"

namespace devicesim {

namespace {

QByteArray frameHeader(int type, qint32 length, quint32 seq, quint64 ts)
{
    QByteArray h(24, '\0');
    qToLittleEndian<quint32>(0x20150723, h.data());
    h[4] = char(type);
    qToLittleEndian<qint32>(length, h.data() + 8);
    qToLittleEndian<quint32>(seq, h.data() + 12);
    qToLittleEndian<quint64>(ts, h.data() + 16);
    return h;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// One live connection: generates frames in timestamp order and writes them
// at the frames' own times (real rate) or as fast as the socket takes them.
class LiveConnection : public QObject
{
public:
    LiveConnection(LiveStream &owner, QTcpSocket *socket, int stream)
        : m_owner(owner), m_socket(socket), m_options(owner.options()), m_faults(owner.faults()), m_stream(stream)
    {
        const LiveStream::Clip clip = owner.clip(stream);
        m_units = clip.units;
        m_width = clip.width;
        m_height = clip.height;
        if (m_options.audio != LiveStream::Audio::None)
            m_audio = owner.audioFrames();
        m_base = m_options.startTs >= 0 ? m_options.startTs : QDateTime::currentMSecsSinceEpoch();
        if (m_faults.dayCross)
            m_base = 86400000 - 2000;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(m_socket, &QTcpSocket::disconnected, this, [this] { finish(false); });
        QObject::connect(m_socket, &QTcpSocket::readyRead, this, [this] { m_socket->readAll(); });
    }

    ~LiveConnection() override
    {
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
            delete m_socket;
        }
    }

    void begin()
    {
        if (m_faults.noAnswer)
            return;
        const QByteArray answer = m_faults.http11 ? "HTTP/1.1 200 OK\r\n\r\n" : "HTTP/1.0 200 OK\r\n\r\n";
        QByteArray first = infoFrame();
        if (m_faults.answerWithFrames) {
            for (int i = 0; i < 3; ++i)
                first += nextFrameBytes();
            m_socket->write(answer + first);
            m_sentFrames.clear(); // the send log is for paced frames
        } else {
            m_socket->write(answer);
            m_socket->flush();
            emitBytes(first);
        }
        if (m_units.isEmpty())
            return;
        m_clock.start();
        if (m_options.pacing == LiveStream::Pacing::MaxRate) {
            QObject::connect(m_socket, &QTcpSocket::bytesWritten, this, [this] { fillMax(); });
            fillMax();
        } else {
            m_timer = new QTimer(this);
            QObject::connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
            m_timer->start(5);
            tick();
        }
    }

    int stream() const { return m_stream; }

    // A clean close by the device, as when a camera drops a client.
    void closeNow()
    {
        if (!m_socket)
            return;
        QTcpSocket *s = m_socket;
        finish(true);
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        s->disconnectFromHost();
    }

    void switchTo(const LiveStream::Clip &clip)
    {
        if (!m_socket || clip.units.isEmpty())
            return;
        m_units = clip.units;
        m_width = clip.width;
        m_height = clip.height;
        m_unitBase = m_videoCount;
        emitBytes(infoFrame());
    }

private:
    QByteArray infoFrame()
    {
        QByteArray p(20, '\0');
        const bool audio = m_options.audio != LiveStream::Audio::None;
        quint32 flags = (audio ? 0x2u : 0u) | (quint32(m_options.decoderChoice & 0xF) << 4);
        qToLittleEndian<quint32>(flags, p.data());
        qToLittleEndian<quint16>(quint16(m_width), p.data() + 4);
        qToLittleEndian<quint16>(quint16(m_height), p.data() + 6);
        qToLittleEndian<quint32>((m_options.h265 ? 1u : 0u) | (25u << 4), p.data() + 8);
        quint16 rate = 0;
        quint32 codec = 0;
        switch (m_options.audio) {
        case LiveStream::Audio::MuLaw8k:
            rate = 8000;
            codec = 0;
            break;
        case LiveStream::Audio::Pcm48k:
            rate = 48000;
            codec = 4;
            break;
        case LiveStream::Audio::Aac48k:
            rate = 48000;
            codec = 2;
            break;
        case LiveStream::Audio::None:
            break;
        }
        qToLittleEndian<quint16>(rate, p.data() + 12);
        qToLittleEndian<quint32>(codec, p.data() + 16);
        if (m_faults.shortInfo) {
            const QByteArray cut = frameHeader(10, 12, m_seq++, 0) + p.left(12);
            return cut + frameHeader(10, 20, m_seq++, 0) + p;
        }
        return frameHeader(10, 20, m_seq++, 0) + p;
    }

    double audioStepMs() const
    {
        switch (m_options.audio) {
        case LiveStream::Audio::MuLaw8k:
            return 40.0;
        case LiveStream::Audio::Pcm48k:
            return 5.0;
        case LiveStream::Audio::Aac48k:
            return 1024.0 / 48.0;
        case LiveStream::Audio::None:
            break;
        }
        return 0;
    }

    qint64 videoTime(qint64 v) const
    {
        qint64 t = m_base + v * 40 + m_owner.timestampJump();
        if (m_faults.jumpAfterFrames > 0 && v >= m_faults.jumpAfterFrames)
            t += 6000;
        return t;
    }
    qint64 audioTime(qint64 a) const
    {
        return m_base + 12 + qint64(double(a) * audioStepMs()) + m_owner.timestampJump();
    }
    // Offset of the next frame from the stream's start, on the sender's clock.
    qint64 nextDue() const
    {
        const qint64 v = m_videoCount * 40;
        if (m_audio.isEmpty() || m_videoCount == 0)
            return v;
        return qMin(v, qint64(12 + double(m_audioCount) * audioStepMs()));
    }

    QByteArray nextFrameBytes()
    {
        QByteArray out;
        if (m_faults.audioFirst && m_videoCount == 0 && m_audioCount < 3 && !m_audio.isEmpty()) {
            out += frame(3, m_audio[0], quint64(m_base - 100 + m_audioCount * 10));
            ++m_audioCount;
            return out;
        }
        const bool audioNext = !m_audio.isEmpty() && m_videoCount > 0 &&
                               12 + double(m_audioCount) * audioStepMs() < double(m_videoCount * 40);
        if (audioNext) {
            out += frame(3, m_audio[int(m_audioCount % m_audio.size())], quint64(audioTime(m_audioCount)));
            ++m_audioCount;
            return out;
        }
        const int index = int((m_videoCount - m_unitBase) % m_units.size());
        const AccessUnit &u = m_units[index];
        m_sentFrames.append(index);
        if (m_faults.garbage)
            out += QByteArray("\x23\x07\x15\x21 junk \x23\x07"); // almost a header
        if (m_faults.corruptHeaders) {
            static const qint32 kBad[] = {0, -1, 0x7FFFFFFF, 4194281};
            out += frameHeader(2, kBad[m_videoCount % 4], m_seq++, quint64(videoTime(m_videoCount)));
        }
        if (m_faults.shortFrame && m_videoCount == 1)
            out += frameHeader(2, 5000 + 100, m_seq++, quint64(videoTime(m_videoCount))) + QByteArray(100, 'S');
        out += frame(u.key ? 1 : m_options.otherType, u.bytes, quint64(videoTime(m_videoCount)));
        if (m_faults.hugeFrame && m_videoCount == 0) {
            QByteArray big(5 * 1024 * 1024, 'H');
            out += frame(2, big, quint64(videoTime(0)));
        }
        ++m_videoCount;
        return out;
    }

    QByteArray frame(int type, const QByteArray &payload, quint64 ts)
    {
        return frameHeader(type, payload.size(), m_seq++, ts) + payload;
    }

    void emitBytes(const QByteArray &bytes)
    {
        if (!m_socket)
            return;
        int i = 0;
        if (m_faults.writeChunk > 0) {
            while (i < bytes.size() && m_chunked < m_faults.chunkBytesLimit) {
                const int n = qMin(m_faults.writeChunk, bytes.size() - i);
                m_socket->write(bytes.constData() + i, n);
                m_socket->flush();
                i += n;
                m_chunked += n;
            }
        }
        if (i < bytes.size())
            m_socket->write(bytes.constData() + i, bytes.size() - i);
    }

    // Writes the next group of frames; false once the connection ended.
    bool writeNext()
    {
        QByteArray out;
        for (int k = 0; k < qMax(1, m_faults.framesPerWrite); ++k)
            out += nextFrameBytes();
        emitBytes(out);
        if (m_options.sendLog) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            for (int index : qAsConst(m_sentFrames))
                m_options.sendLog(m_stream, index, qint64(now.tv_sec) * 1000000000 + now.tv_nsec);
        }
        m_sentFrames.clear();
        const qint64 frames = m_videoCount;
        if (m_faults.closeAfterFrames > 0 && frames >= m_faults.closeAfterFrames) {
            // A clean close: what is queued still goes out first.
            QTcpSocket *s = m_socket;
            finish(true);
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            s->disconnectFromHost();
            return false;
        }
        if (m_faults.resetAfterFrames > 0 && frames >= m_faults.resetAfterFrames) {
            QTcpSocket *s = m_socket;
            finish(true);
            s->abort();
            s->deleteLater();
            return false;
        }
        if (m_faults.stallAfterFrames > 0 && frames == m_faults.stallAfterFrames && !m_stalled) {
            m_stalled = true;
            m_stallUntil = m_clock.elapsed() + m_faults.stallMs;
        }
        return true;
    }

    void tick()
    {
        if (!m_socket)
            return;
        const qint64 now = m_clock.elapsed();
        if (m_owner.isStalled()) {
            if (m_heldSince < 0)
                m_heldSince = now;
            return;
        }
        if (m_heldSince >= 0) {
            m_held += now - m_heldSince;
            m_heldSince = -1;
        }
        if (now < m_stallUntil)
            return;
        const qint64 shift = (m_stalled ? m_faults.stallMs : 0) + m_held;
        while (m_socket && nextDue() + shift <= now) {
            if (!writeNext())
                return;
        }
    }

    void fillMax()
    {
        while (m_socket && m_socket->bytesToWrite() < 512 * 1024) {
            if (!writeNext())
                return;
        }
    }

    // Lets go of the socket; the caller closes it when it ends the stream itself.
    void finish(bool ownerCloses)
    {
        if (m_timer)
            m_timer->stop();
        if (m_socket) {
            m_socket->disconnect(this);
            if (!ownerCloses) {
                m_socket->abort();
                m_socket->deleteLater();
            }
            m_socket = nullptr;
        }
    }

    LiveStream &m_owner;
    QPointer<QTcpSocket> m_socket;
    LiveStream::Options m_options;
    LiveStream::Faults m_faults;
    QVector<AccessUnit> m_units;
    QVector<QByteArray> m_audio;
    int m_width = 0, m_height = 0;
    qint64 m_base = 0;
    qint64 m_videoCount = 0;
    qint64 m_audioCount = 0;
    quint32 m_seq = 0;
    int m_chunked = 0;
    bool m_stalled = false;
    qint64 m_stallUntil = 0;
    const int m_stream;
    qint64 m_unitBase = 0;     // the video count at the last clip switch
    QVector<int> m_sentFrames; // clip indexes of the video frames of the write under way
    qint64 m_held = 0;         // time held back by the owner's stall so far
    qint64 m_heldSince = -1;
    QElapsedTimer m_clock;
    QTimer *m_timer = nullptr;
};

LiveStream::~LiveStream() = default;

void LiveStream::handle(Exchange &exchange)
{
    const int stream = exchange.request().queryValue(QStringLiteral("stream")).toInt();
    QByteArray rest;
    QTcpSocket *socket = exchange.takeSocket(&rest);
    if (!socket)
        return;
    ++m_connections;
    const Faults f = faults();
    m_device.logAnswer(exchange.logIndex(), f.noAnswer ? 0 : 200, f.noAnswer ? QStringLiteral("no answer") : QString());
    auto *c = new LiveConnection(*this, socket, stream == 0 ? 0 : 1);
    m_live.append(c);
    c->begin();
}

void LiveStream::shutdown()
{
    qDeleteAll(m_live);
    m_live.clear();
}

void LiveStream::setOptions(const Options &options)
{
    QMutexLocker lock(&m_mutex);
    m_options = options;
}

LiveStream::Options LiveStream::options() const
{
    QMutexLocker lock(&m_mutex);
    return m_options;
}

void LiveStream::setFaults(const Faults &faults)
{
    QMutexLocker lock(&m_mutex);
    m_faults = faults;
}

LiveStream::Faults LiveStream::faults() const
{
    QMutexLocker lock(&m_mutex);
    return m_faults;
}

void LiveStream::closeConnections(int stream)
{
    m_device.runOnDeviceThread([this, stream] {
        for (LiveConnection *c : qAsConst(m_live))
            if (c->stream() == stream)
                c->closeNow();
    });
}

void LiveStream::setStalled(bool stalled)
{
    m_stalled = stalled;
}

void LiveStream::switchClip(int stream, const QString &file, int width, int height)
{
    {
        QMutexLocker lock(&m_mutex);
        m_clipChoice[stream] = ClipChoice{file, width, height};
    }
    const Clip next = clip(stream);
    m_device.runOnDeviceThread([this, stream, next] {
        for (LiveConnection *c : qAsConst(m_live))
            if (c->stream() == stream)
                c->switchTo(next);
    });
}

LiveStream::Clip LiveStream::clip(int stream) const
{
    QMutexLocker lock(&m_mutex);
    QString file;
    Clip c;
    if (m_clipChoice.contains(stream)) {
        const ClipChoice &choice = m_clipChoice[stream];
        file = choice.file;
        c.width = choice.width;
        c.height = choice.height;
    } else if (!m_options.h265 && knownColour(m_options.colour)) {
        file = QStringLiteral("colour-%1-%2.h264").arg(m_options.colour, stream == 0 ? "main" : "sub");
        c.width = stream == 0 ? 1280 : 640;
        c.height = stream == 0 ? 720 : 360;
    } else if (m_options.h265) {
        file = QStringLiteral("h265-360p25.h265");
        c.width = 640;
        c.height = 360;
    } else if (stream == 0) {
        file = QStringLiteral("h264-1080p25.h264");
        c.width = 1920;
        c.height = 1080;
    } else {
        file = QStringLiteral("h264-360p25.h264");
        c.width = 640;
        c.height = 360;
    }
    const QString path = m_options.clipsDir + QLatin1Char('/') + file;
    auto it = m_clipCache.find(path);
    if (it == m_clipCache.end()) {
        QVector<AccessUnit> units = splitAccessUnits(readFile(path), m_options.h265);
        // The stream starts at the first key unit.
        while (!units.isEmpty() && !units.first().key)
            units.removeFirst();
        it = m_clipCache.insert(path, units);
    }
    c.units = it.value();
    return c;
}

bool LiveStream::knownColour(const QString &colour)
{
    static const QStringList colours{QStringLiteral("red"),     QStringLiteral("green"),  QStringLiteral("lime"),
                                     QStringLiteral("blue"),    QStringLiteral("yellow"), QStringLiteral("cyan"),
                                     QStringLiteral("magenta"), QStringLiteral("white")};
    return colours.contains(colour);
}

QVector<QByteArray> LiveStream::audioFrames() const
{
    QMutexLocker lock(&m_mutex);
    const int kind = int(m_options.audio);
    auto it = m_audioCache.find(kind);
    if (it != m_audioCache.end())
        return it.value();
    QVector<QByteArray> frames;
    const QString dir = m_options.clipsDir + QLatin1Char('/');
    switch (m_options.audio) {
    case Audio::MuLaw8k:
    case Audio::Pcm48k: {
        const QByteArray raw =
            readFile(dir + (m_options.audio == Audio::MuLaw8k ? "tone-mulaw-8k.raw" : "tone-s16le-48k.raw"));
        const int size = m_options.audio == Audio::MuLaw8k ? 320 : 480;
        for (int i = 0; i + size <= raw.size(); i += size)
            frames.append(raw.mid(i, size));
        break;
    }
    case Audio::Aac48k:
        frames = splitAdts(readFile(dir + "tone-aac-48k.adts"));
        break;
    case Audio::None:
        break;
    }
    m_audioCache.insert(kind, frames);
    return frames;
}

QString LiveStream::describe() const
{
    const Options o = options();
    const QString codec = o.h265 ? QStringLiteral("h265") : QStringLiteral("h264");
    QString audio;
    switch (o.audio) {
    case Audio::MuLaw8k:
        audio = QStringLiteral("audio mu-law 8000");
        break;
    case Audio::Pcm48k:
        audio = QStringLiteral("audio pcm 48000");
        break;
    case Audio::Aac48k:
        audio = QStringLiteral("audio aac 48000");
        break;
    case Audio::None:
        audio = QStringLiteral("no audio");
        break;
    }
    if (o.h265)
        return QStringLiteral("main %1 640x360, sub %1 640x360, %2").arg(codec, audio);
    if (knownColour(o.colour))
        return QStringLiteral("main %1 1280x720, sub %1 640x360, %2").arg(codec, audio);
    return QStringLiteral("main %1 1920x1080, sub %1 640x360, %2").arg(codec, audio);
}

} // namespace devicesim
