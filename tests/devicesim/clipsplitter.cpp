#include "clipsplitter.h"

namespace devicesim {

namespace {

struct NalPos
{
    int start;  // first byte of the start code
    int header; // first byte of the NAL header
};

QVector<NalPos> findNals(const QByteArray &a)
{
    QVector<NalPos> out;
    const auto *p = reinterpret_cast<const uchar *>(a.constData());
    const int n = a.size();
    for (int i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            out.append({(i > 0 && p[i - 1] == 0) ? i - 1 : i, i + 3});
            i += 2;
        }
    }
    return out;
}

} // namespace

QVector<AccessUnit> splitAccessUnits(const QByteArray &clip, bool h265)
{
    QVector<AccessUnit> units;
    const QVector<NalPos> nals = findNals(clip);
    if (nals.isEmpty())
        return units;
    int begin = nals.first().start;
    bool sliceSeen = false;
    bool key = false;
    for (int k = 0; k < nals.size(); ++k) {
        const int h = nals[k].header;
        const int end = k + 1 < nals.size() ? nals[k + 1].start : clip.size();
        const uchar b0 = uchar(clip[h]);
        int type;
        bool slice, leading, firstSlice = false, keyType;
        if (h265) {
            type = (b0 >> 1) & 0x3F;
            slice = type <= 31;
            leading = (type >= 32 && type <= 35) || type == 39;
            keyType = type >= 16 && type <= 23;
            if (slice && h + 2 < end)
                firstSlice = uchar(clip[h + 2]) & 0x80;
        } else {
            type = b0 & 0x1F;
            slice = type >= 1 && type <= 5;
            leading = type >= 6 && type <= 9;
            keyType = type == 5;
            if (slice && h + 1 < end)
                firstSlice = uchar(clip[h + 1]) & 0x80;
        }
        if ((leading || firstSlice) && sliceSeen) {
            units.append({clip.mid(begin, nals[k].start - begin), key});
            begin = nals[k].start;
            sliceSeen = false;
            key = false;
        }
        if (slice) {
            sliceSeen = true;
            key = key || keyType;
        }
    }
    if (sliceSeen)
        units.append({clip.mid(begin), key});
    return units;
}

QVector<QByteArray> splitAdts(const QByteArray &stream)
{
    QVector<QByteArray> frames;
    const auto *p = reinterpret_cast<const uchar *>(stream.constData());
    int i = 0;
    while (i + 7 <= stream.size()) {
        if (p[i] != 0xFF || (p[i + 1] & 0xF0) != 0xF0) {
            ++i;
            continue;
        }
        const int length = ((p[i + 3] & 0x03) << 11) | (p[i + 4] << 3) | (p[i + 5] >> 5);
        if (length < 7 || i + length > stream.size())
            break;
        frames.append(stream.mid(i, length));
        i += length;
    }
    return frames;
}

} // namespace devicesim
