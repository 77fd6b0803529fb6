#include "app/core/weeksections.h"

#include "app/core/uitext.h"

#include <QRegularExpression>

#include <algorithm>

namespace weeksections {

const char *dayTextKey(int day)
{
    static const char *const keys[kDays] = {"sunday",   "monday", "tuesday", "wednesday",
                                            "thursday", "friday", "saturday"};
    return day >= 0 && day < kDays ? keys[day] : "";
}

void sortDay(QVector<TimeSection> *day)
{
    std::sort(day->begin(), day->end(), [](const TimeSection &a, const TimeSection &b) {
        return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
}

Refusal check(WeekSections *week)
{
    Refusal refusal;
    for (int d = 0; d < week->size() && refusal.day < 0; ++d) {
        QVector<TimeSection> &day = (*week)[d];
        sortDay(&day);
        for (int i = 0; i < day.size() && refusal.day < 0; ++i) {
            // Sorted by starts, a section that runs into any earlier one
            // runs into the one just before it: that one would otherwise
            // have been refused first.
            if (day[i].end <= day[i].start)
                refusal = {d, Fault::EndNotAfterStart, day[i], TimeSection()};
            else if (i > 0 && day[i].start < day[i - 1].end)
                refusal = {d, Fault::Overlap, day[i], day[i - 1]};
        }
    }
    return refusal;
}

QString dayName(int day)
{
    return uiTextOrKey(dayTextKey(day), 33, kDayTextSection);
}

QString clockText(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

const char *refusalKey(const Refusal &refusal)
{
    return refusal.fault == Fault::Overlap ? "sectionsoverlap" : "starendtime";
}

QString refusalText(const Refusal &refusal)
{
    constexpr int kTipsPage = 38;
    const QString day = dayName(refusal.day);
    const QString text = uiTextOrKey(refusalKey(refusal), kTipsPage);
    if (refusal.fault != Fault::Overlap)
        return day + QStringLiteral(": ") + text;
    auto span = [](const TimeSection &s) { return clockText(s.start) + QLatin1Char('-') + clockText(s.end); };
    return text.arg(day, span(refusal.earlier), span(refusal.section));
}

bool parseDay(const QString &text, QVector<TimeSection> *day)
{
    static const QRegularExpression form(QStringLiteral("^([01]):([0-9]{1,4})-([0-9]{1,4})$"));
    day->clear();
    // Empty parts (a trailing ';') carry nothing and are no fault.
    for (const QString &segment : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = form.match(segment);
        if (!m.hasMatch())
            return false;
        const TimeSection s{m.captured(2).toInt(), m.captured(3).toInt(), m.captured(1).toInt()};
        if (s.end > kDayMinutes)
            return false;
        day->append(s);
    }
    WeekSections one{*day};
    if (check(&one).day >= 0)
        return false;
    *day = one.at(0);
    return true;
}

QString dayText(QVector<TimeSection> day)
{
    sortDay(&day);
    QStringList parts;
    for (const TimeSection &s : qAsConst(day))
        parts << QStringLiteral("%1:%2-%3").arg(s.kind).arg(s.start).arg(s.end);
    // Never a null text: it would be stored as NULL, not as an empty day.
    return parts.isEmpty() ? QStringLiteral("") : parts.join(QLatin1Char(';'));
}

QStringList dayTexts(const _st_schedule_item &row)
{
    return {row.skdsun, row.skdmon, row.skdtue, row.skdwed, row.skdthu, row.skdfri, row.skdsat};
}

void setDayTexts(_st_schedule_item *row, const QStringList &texts)
{
    QString *days[] = {&row->skdsun, &row->skdmon, &row->skdtue, &row->skdwed,
                       &row->skdthu, &row->skdfri, &row->skdsat};
    for (int d = 0; d < kDays && d < texts.size(); ++d)
        *days[d] = texts.at(d);
}

StoredWeek readRow(const _st_schedule_item &row)
{
    StoredWeek stored;
    stored.texts = dayTexts(row);
    for (int d = 0; d < kDays; ++d) {
        stored.readable[d] = parseDay(stored.texts.at(d), &stored.week[d]);
        if (!stored.readable[d])
            stored.week[d].clear();
    }
    return stored;
}

QStringList mergedTexts(const StoredWeek &stored, const WeekSections &edited, const QVector<bool> &changed)
{
    QStringList texts = stored.texts;
    for (int d = 0; d < kDays; ++d) {
        if (d < changed.size() && changed.at(d) && d < edited.size())
            texts[d] = dayText(edited.at(d));
    }
    return texts;
}

} // namespace weeksections
