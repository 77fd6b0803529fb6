#include "device/deviceaddress.h"

#include <QRegularExpression>
#include <QStringList>

namespace deviceaddress {

bool isIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || p.isEmpty() || p.size() > 3 || v < 0 || v > 255)
            return false;
    }
    return true;
}

bool isIdentifier(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9-]{6,64}$"));
    return re.match(text).hasMatch();
}

bool isAcceptable(const QString &text)
{
    return isIpv4(text) || isIdentifier(text);
}

QString folderName(const QString &address)
{
    if (address.isEmpty() || address.contains(QLatin1Char('/')) || address.contains(QLatin1Char('\\')) ||
        address.contains(QLatin1String("..")))
        return QString();
    return address;
}

} // namespace deviceaddress
