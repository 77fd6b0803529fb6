#pragma once

// The contrast of two colours as WCAG measures it: relative luminance of
// the gamma-expanded sRGB channels, then (lighter + 0.05) / (darker + 0.05),
// from 1 (the same colour) to 21 (black on white). Header only, no widgets.

#include <QRgb>

#include <algorithm>
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
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace testsupport
