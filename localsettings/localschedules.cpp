#include "localsettings/localschedules.h"

#include "app/core/database.h"

namespace localschedules {

namespace {

Subject subjectOf(const QList<_st_schedule_item> &rows, int kind, const QString &address, const QString &name)
{
    Subject s;
    s.kind = kind;
    s.address = address;
    s.name = name;
    // The snapshot row names no device; the database keeps it as "null".
    const QString key = address.isEmpty() ? QStringLiteral("null") : address;
    for (const _st_schedule_item &row : rows) {
        if (row.ipaddr == key && row.skdtype == kind) {
            s.stored = true;
            s.row = row;
            break;
        }
    }
    s.week = weeksections::readRow(s.row);
    return s;
}

bool allEmpty(const QStringList &texts)
{
    for (const QString &t : texts) {
        if (!t.trimmed().isEmpty())
            return false;
    }
    return true;
}

// An empty day is stored as an empty text, never as NULL.
QStringList storedDays(const QStringList &texts)
{
    QStringList days;
    for (const QString &t : texts)
        days << (t.isNull() ? QStringLiteral("") : t);
    return days;
}

// The row a save leaves: the stored one with the new days, or a new one
// applying as the page's rows do, enabled.
_st_schedule_item rowOf(const Subject &subject, const QStringList &days)
{
    _st_schedule_item row = subject.row;
    if (!subject.stored) {
        row = _st_schedule_item();
        row.applytype = 0;
        row.devname = subject.name;
        row.ipaddr = subject.address;
        row.skdtype = subject.kind;
        row.enable = 1;
    }
    weeksections::setDayTexts(&row, days);
    return row;
}

} // namespace

QList<Subject> load(qcDatabase *db, ReadStatus *status)
{
    QList<Subject> subjects;
    QList<_st_schedule_item> rows;
    QList<_st_device_item> devices;
    ReadStatus read{ReadStatus::Closed};
    if (db) {
        read = db->reloadSchedules();
        if (read.ok())
            read = db->readSchedules(rows);
        if (read.ok())
            read = db->readDevices(devices);
    }
    if (status)
        *status = read;
    if (!read.ok())
        return subjects;
    subjects << subjectOf(rows, kSnapshot, QString(), QString());
    for (const _st_device_item &device : qAsConst(devices))
        subjects << subjectOf(rows, kRecording, device.address, device.devname);
    return subjects;
}

bool save(qcDatabase *db, const Subject &subject, const QStringList &texts, QString *failure)
{
    if (!db || texts.size() != weeksections::kDays) {
        if (failure)
            *failure = QStringLiteral("no database or no whole week");
        return false;
    }
    const QStringList days = storedDays(texts);
    if (subject.stored) {
        if (allEmpty(days))
            return db->deleteSchedule(subject.address, subject.kind, failure);
        // All seven days in one statement: a failed write leaves the row whole.
        return db->updateSchedule(rowOf(subject, days), failure);
    }
    if (allEmpty(days))
        return true;
    return db->addSchedule(rowOf(subject, days), failure);
}

Subject saved(const Subject &subject, const QStringList &texts)
{
    Subject s = subject;
    const QStringList days = storedDays(texts);
    s.stored = !allEmpty(days);
    s.row = s.stored ? rowOf(subject, days) : _st_schedule_item();
    s.week = weeksections::readRow(s.row);
    return s;
}

} // namespace localschedules
