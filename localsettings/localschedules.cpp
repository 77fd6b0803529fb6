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

bool save(qcDatabase *db, const Subject &subject, const QStringList &texts)
{
    if (!db || texts.size() != weeksections::kDays)
        return false;
    // An empty day is stored as an empty text, never as NULL.
    QStringList days;
    for (const QString &t : texts)
        days << (t.isNull() ? QStringLiteral("") : t);
    if (subject.stored) {
        if (allEmpty(days))
            return db->deleteSchedule(subject.address, subject.kind);
        // All seven days in one transaction: a failed write leaves the row whole.
        _st_schedule_item row = subject.row;
        weeksections::setDayTexts(&row, days);
        return db->updateSchedule(row);
    }
    if (allEmpty(days))
        return true;
    _st_schedule_item row;
    row.applytype = 0;
    row.devname = subject.name;
    row.ipaddr = subject.address;
    row.skdtype = subject.kind;
    row.enable = 1;
    weeksections::setDayTexts(&row, days);
    return db->addSchedule(row);
}

} // namespace localschedules
