#include "app/core/addressspelling.h"

#include <QStringList>

namespace addressspelling {

bool isIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &p : parts) {
        // Digits only: the number conversion alone would take a sign and
        // blanks around it, and a trailing line end would end up in a
        // folder name.
        if (p.isEmpty() || p.size() > 3)
            return false;
        int v = 0;
        for (const QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            v = v * 10 + (c.unicode() - '0');
        }
        if (v > 255)
            return false;
    }
    return true;
}

QString canonical(const QString &text)
{
    if (!isIpv4(text))
        return text;
    QStringList parts = text.split(QLatin1Char('.'));
    for (QString &p : parts)
        p = QString::number(p.toInt());
    return parts.join(QLatin1Char('.'));
}

bool isSame(const QString &a, const QString &b)
{
    return canonical(a) == canonical(b);
}

} // namespace addressspelling
