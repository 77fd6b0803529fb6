#pragma once

#include <QByteArray>
#include <QMutex>
#include <QVector>
#include <cstdint>

// Test-side frame writer, independent of the product's own layout helpers so
// that a layout mistake cannot hide in both.
namespace frames {

inline void le(QByteArray &a, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        a.append(char((v >> (8 * i)) & 0xFF));
}

inline QByteArray head(int type, int32_t length, uint32_t seq, uint64_t ts)
{
    QByteArray a;
    le(a, 0x20150723, 4);
    a.append(char(type));
    a.append(3, '\0');
    le(a, uint32_t(length), 4);
    le(a, seq, 4);
    le(a, ts, 8);
    return a;
}

inline QByteArray frame(int type, const QByteArray &payload, uint64_t ts, uint32_t seq = 0)
{
    return head(type, payload.size(), seq, ts) + payload;
}

inline QByteArray info(int width, int height, int sampleRate, int audioCodec, int videoCodec = 0, int fps = 25,
                       bool audio = true, int extra = 0)
{
    QByteArray p;
    le(p, audio ? 0x2 : 0, 4);
    le(p, uint32_t(width), 2);
    le(p, uint32_t(height), 2);
    le(p, uint32_t(videoCodec | (fps << 4)), 4);
    le(p, uint32_t(sampleRate), 2);
    le(p, 0, 2);
    le(p, uint32_t(audioCodec), 4);
    p.append(extra, char(0x5A));
    return p;
}

inline QByteArray pattern(int length, int seed)
{
    QByteArray a(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        a[i] = char((seed * 37 + i * 11 + (i >> 8)) & 0xFF);
    return a;
}

// What a stream callback received.
struct Received
{
    int kind;
    int subkind;
    qint64 ts;
    QByteArray data;
};

struct Recorder
{
    QVector<Received> items;
    mutable QMutex mutex;
    static void callback(const unsigned char *data, int length, int kind, int subkind, qint64 ts, void *user)
    {
        auto *self = static_cast<Recorder *>(user);
        QMutexLocker lock(&self->mutex);
        self->items.append({kind, subkind, ts, QByteArray(reinterpret_cast<const char *>(data), length)});
    }
    int size() const
    {
        QMutexLocker lock(&mutex);
        return items.size();
    }
    QVector<Received> ofKind(int kind) const
    {
        QMutexLocker lock(&mutex);
        QVector<Received> out;
        for (const auto &r : items)
            if (r.kind == kind)
                out.append(r);
        return out;
    }
};

} // namespace frames
