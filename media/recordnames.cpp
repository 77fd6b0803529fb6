#include "media/recordnames.h"

#include "device/streamclock.h"

#include <QDir>
#include <QStringList>

namespace recordnames {

namespace {

bool allDigits(const QString &s, int n)
{
    if (s.size() != n)
        return false;
    for (QChar c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

QString two(qint64 v)
{
    return QString("%1").arg(v, 2, 10, QChar('0'));
}

} // namespace

int parseTimeOfDay(const QString &text)
{
    const QStringList parts = text.split('-');
    if (parts.size() != 4 || !allDigits(parts[0], 2) || !allDigits(parts[1], 2) || !allDigits(parts[2], 2) ||
        !allDigits(parts[3], 3))
        return -1;
    return ((parts[0].toInt() * 60 + parts[1].toInt()) * 60 + parts[2].toInt()) * 1000 + parts[3].toInt();
}

QString formatTimeOfDay(qint64 msecs)
{
    const qint64 seconds = msecs / 1000;
    return QString("%1-%2-%3-%4")
        .arg(two(seconds / 3600), two(seconds / 60 % 60), two(seconds % 60))
        .arg(msecs % 1000, 3, 10, QChar('0'));
}

bool startsWithDay(const QString &name)
{
    return allDigits(name.left(8), 8);
}

QDate folderDay(const QString &folder)
{
    QDir dir(folder);
    // Deep enough for any layout under a record root, and no endless walk.
    for (int depth = 0; depth < 16; ++depth) {
        if (allDigits(dir.dirName(), 8))
            return QDate::fromString(dir.dirName(), QStringLiteral("yyyyMMdd"));
        if (!dir.cdUp())
            break;
    }
    return QDate();
}

QString inDayFolder(const QString &path, const QDate &date)
{
    QStringList parts = path.split('/');
    for (int i = parts.size() - 2; i >= 0; --i) {
        if (allDigits(parts[i], 8)) {
            parts[i] = dayFolder(date);
            return parts.join('/');
        }
    }
    return path;
}

bool endsAfter(const QString &folder, int endMsecs, const QDateTime &now)
{
    const QDate day = folderDay(folder);
    if (day.isValid() && day != now.date())
        return day > now.date();
    return endMsecs > now.time().msecsSinceStartOfDay() + StreamClock::kMaxLeadMs;
}

QString kindNamePart(int kind)
{
    switch (kind) {
    case kKindTiming:
        return QStringLiteral("TIMING");
    case kKindAlarm:
        return QStringLiteral("ALARM");
    case kKindManual:
        return QStringLiteral("MANUAL");
    default:
        return QString();
    }
}

quint8 headerKindByte(int kind)
{
    switch (kind) {
    case kKindTiming:
        return 1;
    case kKindAlarm:
        return 2;
    case kKindManual:
        return 4;
    case kKindOther:
        return 8;
    default:
        return 0;
    }
}

int kindFromHeaderByte(quint8 flag)
{
    for (int kind = kKindTiming; kind <= kKindOther; ++kind)
        if (headerKindByte(kind) == flag)
            return kind;
    return 0;
}

quint32 reclistKindFlags(int kind)
{
    switch (kind) {
    case kKindTiming:
    case kKindOther:
        return 0x80000000u;
    case kKindAlarm:
        return 0x00000001u;
    case kKindManual:
        return 0x40000000u;
    default:
        return 0;
    }
}

QString dayFolder(const QDate &date)
{
    return QStringLiteral("%1%2%3")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'));
}

QString initialName(const QString &address, int kind)
{
    const QString part = kindNamePart(kind);
    if (part.isEmpty())
        return QString();
    const QStringList quad = address.split('.');
    const QString device = quad.size() == 4 ? quad.join('-') : address;
    return QString("RECV1_%1_%2_.zmf").arg(part, device);
}

QString startName(const QString &path, qint64 startMsecs)
{
    QString out = path;
    return out.insert(qMax(0, out.size() - 4), formatTimeOfDay(startMsecs) + '_');
}

QString finalName(const QString &path, qint64 endMsecs)
{
    const int dot = path.lastIndexOf('.');
    if (dot < 0)
        return path + formatTimeOfDay(endMsecs);
    return path.left(dot) + formatTimeOfDay(endMsecs) + path.mid(dot);
}

NameParts parseName(const QString &fileName)
{
    NameParts out;
    const QStringList dot = fileName.split('.');
    if (dot.size() != 2 || dot[1] != QLatin1String("zmf"))
        return out;
    const QStringList parts = dot[0].split('_');
    // "RECV" and at least one digit at the start.
    if (parts.size() < 4 || parts.size() > 5 || !parts[0].startsWith(QLatin1String("RECV")) || parts[0].size() < 5 ||
        !parts[0].at(4).isDigit())
        return out;
    if (parts[1] == QLatin1String("TIMING"))
        out.kind = kKindTiming;
    else if (parts[1] == QLatin1String("ALARM"))
        out.kind = kKindAlarm;
    else if (parts[1] == QLatin1String("MANUAL"))
        out.kind = kKindManual;
    else
        return out;
    if (parts.size() == 4) {
        out.initial = parts[3].isEmpty();
        return out;
    }
    out.start = parseTimeOfDay(parts[3]);
    if (out.start < 0)
        return out;
    if (parts[4].isEmpty()) {
        out.unfinished = true;
        return out;
    }
    out.end = parseTimeOfDay(parts[4]);
    out.finished = out.end >= 0;
    return out;
}

bool isValidRecordName(const QString &fileName)
{
    const NameParts p = parseName(fileName);
    // A recording of one frame starts and ends at the same time; it must be
    // deletable like any other.
    return p.finished && p.start <= p.end;
}

bool isUnfinishedRecordName(const QString &fileName)
{
    return parseName(fileName).unfinished;
}

bool isInitialRecordName(const QString &fileName)
{
    return parseName(fileName).initial;
}

namespace {
const QString kMovingSuffix = QStringLiteral(".moving");
} // namespace

QString movingName(const QString &fileName)
{
    return QLatin1Char('.') + fileName + kMovingSuffix;
}

QString movedName(const QString &movingName)
{
    return isMovingName(movingName) ? movingName.mid(1, movingName.size() - 1 - kMovingSuffix.size()) : QString();
}

bool isMovingName(const QString &fileName)
{
    return fileName.size() > kMovingSuffix.size() + 1 && fileName.startsWith(QLatin1Char('.')) &&
           fileName.endsWith(kMovingSuffix);
}

QByteArray nameField(const QString &fileName)
{
    QByteArray field(kNameFieldSize, '\0');
    const QByteArray latin = fileName.toLatin1();
    if (latin.size() < kNameFieldSize)
        std::copy(latin.begin(), latin.end(), field.begin());
    return field;
}

QString nameFromField(const char *field)
{
    return QString::fromLatin1(field, int(qstrnlen(field, kNameFieldSize)));
}

} // namespace recordnames
