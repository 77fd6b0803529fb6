#include "device/deviceaddress.h"

#include "app/core/addressspelling.h"

#include <QRegularExpression>
#include <QStringList>

namespace deviceaddress {

bool isIpv4(const QString &text)
{
    return addressspelling::isIpv4(text);
}

bool isIdentifier(const QString &text)
{
    // Anchored at the very end: "$" alone lets a trailing line end through.
    static const QRegularExpression re(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9-]{6,64}")));
    return re.match(text).hasMatch();
}

bool isAcceptable(const QString &text)
{
    return isIpv4(text) || isIdentifier(text);
}

QString canonical(const QString &text)
{
    return addressspelling::canonical(text);
}

bool isSameAddress(const QString &a, const QString &b)
{
    return addressspelling::isSame(a, b);
}

QString printable(const QString &address)
{
    constexpr int kMaxShown = 64;
    QString out;
    for (const QChar c : address.left(kMaxShown)) {
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (address.size() > kMaxShown)
        out += QStringLiteral("...");
    return out;
}

QString folderName(const QString &address)
{
    if (address.isEmpty() || address.contains(QLatin1Char('/')) || address.contains(QLatin1Char('\\')) ||
        address.contains(QLatin1String("..")))
        return QString();
    return address;
}

} // namespace deviceaddress
