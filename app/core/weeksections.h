#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "app/core/records.h"

// A time section of a day in minutes after midnight, end excluded. The kind
// matters to the local schedules only: 0 timing, 1 alarm.
struct TimeSection
{
    int start = 0;
    int end = 0;
    int kind = 0;
    bool operator==(const TimeSection &o) const { return start == o.start && end == o.end && kind == o.kind; }
};
using WeekSections = QVector<QVector<TimeSection>>; // seven days, Sunday first

namespace weeksections {

constexpr int kDays = 7;
constexpr int kDayMinutes = 24 * 60;

// The weekday names of the language files: section 49 of the common page,
// one key per day (Sunday first).
constexpr int kDayTextSection = 49;
const char *dayTextKey(int day);
// A day's name as the pages show it.
QString dayName(int day);

enum class Fault { None, EndNotAfterStart, Overlap };
struct Refusal
{
    int day = -1; // -1: nothing refused
    Fault fault = Fault::None;
    // The section refused; for an overlap, earlier is the one it runs into.
    TimeSection section;
    TimeSection earlier;
};

// Orders a day's sections by their starts, equal starts by their ends.
void sortDay(QVector<TimeSection> *day);

// Sorts each day's sections, then names the first day (Sunday first) with a
// section that ends at or before its start or begins before the previous
// one ended.
Refusal check(WeekSections *week);

// Minutes after midnight as "HH:MM", up to "24:00".
QString clockText(int minutes);

// The language key (tips page) of the tip that reports a refusal, and its
// text: an overlap names the day and the times of both sections.
const char *refusalKey(const Refusal &refusal);
QString refusalText(const Refusal &refusal);

// A stored day text: segments "kind:start-end" in minutes joined by ';'.
// False when a segment is not of that form, has a kind other than 0 or 1,
// lies outside the day, ends at or before its start or overlaps another:
// such a day is not shown as sections but kept as it is stored.
bool parseDay(const QString &text, QVector<TimeSection> *day);
// The text of a day, sections in the order of their starts.
QString dayText(QVector<TimeSection> day);

// The seven day texts of a schedule row, Sunday first.
QStringList dayTexts(const _st_schedule_item &row);
void setDayTexts(_st_schedule_item *row, const QStringList &texts);

// A stored schedule as the editor shows it.
struct StoredWeek
{
    WeekSections week = WeekSections(kDays); // unreadable days are empty here
    QStringList texts;                       // as stored
    QVector<bool> readable = QVector<bool>(kDays, true);
};
StoredWeek readRow(const _st_schedule_item &row);

// The texts to store: a changed day from the edited week, every other day as
// it was stored (so a day the editor cannot read stays untouched).
QStringList mergedTexts(const StoredWeek &stored, const WeekSections &edited, const QVector<bool> &changed);

} // namespace weeksections
