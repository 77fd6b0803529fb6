#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

// Test-side access to the clips the `clips` fixture made, and a plain
// Annex-B splitter (4-byte and 3-byte start codes) for finding NAL units.
namespace clips {

inline QString dir()
{
    return qEnvironmentVariable("ARDO_CLIPS_DIR");
}

inline QByteArray read(const QString &name)
{
    QFile f(dir() + QLatin1Char('/') + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Nal
{
    int start;   // offset of the start code
    int payload; // offset of the NAL header
    int end;     // offset of the next start code or the end
};

inline QVector<Nal> nals(const QByteArray &a)
{
    QVector<Nal> out;
    const int n = a.size();
    const auto *p = reinterpret_cast<const unsigned char *>(a.constData());
    for (int i = 0; i + 3 <= n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            const int start = (i > 0 && p[i - 1] == 0) ? i - 1 : i;
            if (!out.isEmpty())
                out.last().end = start;
            out.append({start, i + 3, n});
            i += 2;
        }
    }
    return out;
}

inline int h264Type(const QByteArray &a, const Nal &n) { return uchar(a[n.payload]) & 0x1F; }
inline int h265Type(const QByteArray &a, const Nal &n) { return (uchar(a[n.payload]) >> 1) & 0x3F; }

} // namespace clips
