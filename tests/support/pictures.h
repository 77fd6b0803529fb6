#pragma once

#include <QColor>
#include <QDirIterator>
#include <QImage>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace testsupport {

// Y, U and V of the colours the renderer suites draw.
constexpr uint8_t kYuvRed[3] = {81, 90, 240};
constexpr uint8_t kYuvBlue[3] = {41, 240, 110};

// A planar 4:2:0 picture, left half one colour and right half another, with
// its planes and line sizes as the renderers take them.
struct YuvHalves
{
    YuvHalves(int w, int h, const uint8_t left[3], const uint8_t right[3]) : width(w), height(h)
    {
        y.resize(size_t(w) * h);
        u.resize(size_t(w / 2) * (h / 2));
        v.resize(u.size());
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                y[size_t(r) * w + c] = c < w / 2 ? left[0] : right[0];
        for (int r = 0; r < h / 2; ++r)
            for (int c = 0; c < w / 2; ++c) {
                u[size_t(r) * (w / 2) + c] = c < w / 4 ? left[1] : right[1];
                v[size_t(r) * (w / 2) + c] = c < w / 4 ? left[2] : right[2];
            }
        planes[0] = y.data();
        planes[1] = u.data();
        planes[2] = v.data();
        lines[0] = w;
        lines[1] = lines[2] = w / 2;
    }
    int width, height;
    std::vector<uint8_t> y, u, v;
    const uint8_t *planes[3];
    int lines[3];
};

// The share of a picture's pixels within tolerance of a colour on every
// channel: a device's solid colour survives coding, its moving bar does not count.
inline double shareNear(const QImage &image, const QColor &colour, int tolerance = 30)
{
    if (image.isNull())
        return 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    qint64 near = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            near += qAbs(qRed(line[x]) - colour.red()) <= tolerance &&
                    qAbs(qGreen(line[x]) - colour.green()) <= tolerance &&
                    qAbs(qBlue(line[x]) - colour.blue()) <= tolerance;
    }
    return double(near) / (qint64(rgb.width()) * rgb.height());
}

// The files under root, in every folder below it, whose names match pattern; sorted.
inline QStringList filesUnder(const QString &root, const QString &pattern)
{
    QStringList out;
    QDirIterator it(root, {pattern}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

} // namespace testsupport
