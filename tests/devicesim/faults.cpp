#include "faults.h"

#include "http.h"

namespace devicesim {

Fault Fault::status(int code, const QByteArray &body)
{
    Fault f;
    f.kind = Status;
    f.code = code;
    f.body = body;
    return f;
}

static Fault ofKind(Fault::Kind kind)
{
    Fault f;
    f.kind = kind;
    return f;
}

Fault Fault::malformedStatus()
{
    return ofKind(MalformedStatus);
}
Fault Fault::stall()
{
    return ofKind(Stall);
}
Fault Fault::drop()
{
    return ofKind(Drop);
}
Fault Fault::reset()
{
    return ofKind(Reset);
}
Fault Fault::garbage()
{
    return ofKind(Garbage);
}
Fault Fault::interim100()
{
    return ofKind(Interim100);
}
Fault Fault::silent()
{
    return ofKind(Silent);
}
Fault Fault::cut()
{
    return ofKind(Cut);
}

Fault Fault::delay(int ms)
{
    Fault f = ofKind(Delay);
    f.delayMs = ms;
    return f;
}

Fault Fault::trickle(int bytes, int everyMs)
{
    Fault f = ofKind(Trickle);
    f.chunkBytes = qMax(1, bytes);
    f.everyMs = qMax(0, everyMs);
    return f;
}

Fault Fault::largeBody(qint64 bytes)
{
    Fault f = ofKind(LargeBody);
    f.size = qMax<qint64>(0, bytes);
    return f;
}

bool Fault::replacesAnswer() const
{
    switch (kind) {
    case Status:
    case LargeBody:
    case Drop:
    case Reset:
    case Garbage:
    case Silent:
        return true;
    default:
        return false;
    }
}

QString Fault::describe() const
{
    switch (kind) {
    case Status:
        return QStringLiteral("status %1").arg(code);
    case MalformedStatus:
        return QStringLiteral("malformed status line");
    case Delay:
        return QStringLiteral("delay %1 ms").arg(delayMs);
    case Stall:
        return QStringLiteral("stall");
    case Trickle:
        return QStringLiteral("trickle %1 bytes every %2 ms").arg(chunkBytes).arg(everyMs);
    case LargeBody:
        return QStringLiteral("large body %1").arg(size);
    case Drop:
        return QStringLiteral("drop");
    case Reset:
        return QStringLiteral("reset");
    case Garbage:
        return QStringLiteral("garbage");
    case Interim100:
        return QStringLiteral("interim 100");
    case Silent:
        return QStringLiteral("silent");
    case Cut:
        return QStringLiteral("cut");
    }
    return {};
}

QByteArray Fault::pattern(qint64 size)
{
    QByteArray out(int(size), Qt::Uninitialized);
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(i % 251);
    return out;
}

QByteArray Fault::garbageBytes()
{
    static const char bytes[] = "\x16\x03\x01 this is not HTTP\x00\xff\r\n\r\n";
    return QByteArray(bytes, sizeof bytes - 1);
}

bool Fault::parse(const QString &text, Fault *fault, int *times, QString *error)
{
    QString mode = text.trimmed();
    *times = -1;
    const int slash = mode.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0) {
        bool ok = false;
        const int n = mode.mid(slash + 1).toInt(&ok);
        if (!ok || n < 1) {
            *error = QStringLiteral("bad count in \"%1\"").arg(text);
            return false;
        }
        *times = n;
        mode.truncate(slash);
    }
    const QStringList p = mode.split(QLatin1Char(':'));
    const QString name = p.value(0).toLower();
    auto number = [&](int i, qint64 *out) {
        bool ok = false;
        *out = p.value(i).toLongLong(&ok);
        return ok && *out >= 0;
    };
    qint64 a = 0, b = 0;
    bool ok = true;
    if (p.size() == 1 && number(0, &a))
        *fault = status(int(a));
    else if (name == QLatin1String("status") && p.size() == 2 && number(1, &a))
        *fault = status(int(a));
    else if (name == QLatin1String("malformed") && p.size() == 1)
        *fault = malformedStatus();
    else if (name == QLatin1String("delay") && p.size() == 2 && number(1, &a))
        *fault = delay(int(a));
    else if (name == QLatin1String("stall") && p.size() == 1)
        *fault = stall();
    else if (name == QLatin1String("trickle") && p.size() == 3 && number(1, &a) && number(2, &b))
        *fault = trickle(int(a), int(b));
    else if (name == QLatin1String("large") && p.size() == 2 && number(1, &a))
        *fault = largeBody(a);
    else if (name == QLatin1String("drop") && p.size() == 1)
        *fault = drop();
    else if (name == QLatin1String("reset") && p.size() == 1)
        *fault = reset();
    else if (name == QLatin1String("garbage") && p.size() == 1)
        *fault = garbage();
    else if (name == QLatin1String("interim100") && p.size() == 1)
        *fault = interim100();
    else if (name == QLatin1String("silent") && p.size() == 1)
        *fault = silent();
    else if (name == QLatin1String("cut") && p.size() == 1)
        *fault = cut();
    else
        ok = false;
    if (!ok)
        *error = QStringLiteral("unknown fault mode \"%1\"").arg(text);
    return ok;
}

bool faultMatches(const QString &match, const Request &request)
{
    if (match == QLatin1String("*"))
        return true;
    if (match.startsWith(QLatin1Char('/')))
        return match == QString::fromLatin1(request.path);
    QString key = match;
    const int colon = match.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        if (match.left(colon) != request.action())
            return false;
        key = match.mid(colon + 1);
        if (key == QLatin1String("*"))
            return true;
    }
    const QString requestKey = request.subjectKey();
    return !requestKey.isEmpty() && (key == requestKey || key == request.queryValue(QStringLiteral("subject")));
}

} // namespace devicesim
