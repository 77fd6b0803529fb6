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

inline int h264Type(const QByteArray &a, const Nal &n)
{
    return uchar(a[n.payload]) & 0x1F;
}
inline int h265Type(const QByteArray &a, const Nal &n)
{
    return (uchar(a[n.payload]) >> 1) & 0x3F;
}

// Access units of an Annex-B clip: a unit begins at a parameter set, access
// unit delimiter or prefix SEI that follows a picture's slices, or at a slice
// whose first-slice flag is set.
struct Unit
{
    QByteArray bytes;
    bool key;
};

inline QVector<Unit> units(const QByteArray &a, bool h265)
{
    QVector<Unit> out;
    const auto list = nals(a);
    bool sliceSeen = false;
    int begin = list.isEmpty() ? 0 : list.first().start;
    bool key = false;
    for (const Nal &n : list) {
        const int t = h265 ? h265Type(a, n) : h264Type(a, n);
        const bool slice = h265 ? t < 32 : (t >= 1 && t <= 5);
        const bool lead = h265 ? (t >= 32 && t <= 35) || t == 39 : (t >= 6 && t <= 9);
        const int flagByte = n.payload + (h265 ? 2 : 1);
        const bool first = slice && flagByte < n.end && (uchar(a[flagByte]) & 0x80);
        if ((lead || first) && sliceSeen) {
            out.append({a.mid(begin, n.start - begin), key});
            begin = n.start;
            sliceSeen = false;
            key = false;
        }
        if (slice) {
            sliceSeen = true;
            if (h265 ? (t >= 16 && t <= 23) : t == 5)
                key = true;
        }
    }
    if (sliceSeen)
        out.append({a.mid(begin), key});
    return out;
}

} // namespace clips
