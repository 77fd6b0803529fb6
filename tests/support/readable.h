#pragma once

// Whether a label's painted text can be read: the contrast of its text
// pixels against its background (as WCAG measures it), and whether the text
// lies whole inside the part of the label that can be seen. Header only;
// the suites link Qt Widgets.

#include <QImage>
#include <QLabel>
#include <QMap>
#include <QRegion>
#include <QWidget>

#include <cmath>

namespace testsupport {

inline double relativeLuminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

inline double contrastRatio(QRgb a, QRgb b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

struct PaintedText
{
    QRgb background = 0; // the colour most of the label's pixels have
    QRgb text = 0;       // the pixel that stands out most from it
    double contrast = 1;
    // No text painted, text wider than the label, a label not seen whole,
    // or one that a sibling covers.
    bool clipped = true;
};

// The label as its window paints it (the parents' backgrounds included).
inline PaintedText paintedText(QLabel *label)
{
    PaintedText out;
    QWidget *top = label->window();
    const QImage shot = top->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect seen = label->visibleRegion().boundingRect();
    if (seen.isEmpty())
        return out;
    const QRect area(label->mapTo(top, seen.topLeft()), seen.size());
    QMap<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[shot.pixel(x, y) & 0xffffff];
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            out.background = it.key();
        }
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = shot.pixel(x, y) & 0xffffff;
            const double c = contrastRatio(p, out.background);
            if (c > out.contrast) {
                out.contrast = c;
                out.text = p;
            }
        }
    }
    bool covered = false;
    if (QWidget *parent = label->parentWidget()) {
        for (QWidget *sibling : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            covered |= sibling != label && sibling->isVisible() && sibling->geometry().intersects(label->geometry());
    }
    const int needed = label->fontMetrics().horizontalAdvance(label->text());
    out.clipped = out.contrast < 1.5 || seen != label->rect() || covered || needed > label->contentsRect().width();
    return out;
}

} // namespace testsupport
