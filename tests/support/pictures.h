#pragma once

#include <QColor>
#include <QDirIterator>
#include <QImage>
#include <QStringList>

namespace testsupport {

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
