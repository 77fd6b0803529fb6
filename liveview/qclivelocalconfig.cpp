#include "liveview/qclivelocalconfig.h"

#include "app/core/database.h"
#include "app/core/settingranges.h"
#include "app/core/weeksections.h"
#include "media/recordlog.h"

#include <QDebug>

namespace livelocalconfig {

namespace {

int clampValue(const char *name, int value, settingranges::Range range)
{
    const int clamped = range.clamp(value);
    // The options are read again on every save: a value told once is not
    // told again until the setting was in range.
    const QString key = QStringLiteral("setting ") + QLatin1String(name);
    if (clamped == value) {
        recordlog::faultGone(key);
        return value;
    }
    recordlog::abnormalOnce(key, QString::number(value), QStringLiteral("setting out of range"), QString(),
                            QStringLiteral("%1 %2 is outside %3 to %4: %5 is used")
                                .arg(QLatin1String(name))
                                .arg(value)
                                .arg(range.min)
                                .arg(range.max)
                                .arg(clamped));
    return clamped;
}

// What the operator knows the row by: its device, or the snapshot schedule.
QString rowName(const _st_schedule_item &item, const QString &address)
{
    const QString kind = item.skdtype == 0 ? QStringLiteral("recording") : QStringLiteral("snapshot");
    return address.isEmpty() ? QStringLiteral("%1 schedule for all devices").arg(kind)
                             : QStringLiteral("%1 schedule of %2").arg(kind, address);
}

// How many of a row's segments there are, and how many of each day's
// (Sunday first) cannot be read.
struct SegmentCount
{
    int total = 0;
    int unreadable[7] = {};
};

// A day's segments that cannot be read are skipped; the rest still count.
// One record for the row's days, told once per distinct set of texts.
void tellUnreadableDays(const _st_schedule_item &item, const QString &address, const QStringList &days,
                        const SegmentCount &count)
{
    const QString key = QStringLiteral("schedule days %1 %2").arg(address).arg(item.skdtype);
    QStringList unreadable;
    int skipped = 0;
    for (int day = 0; day < 7; ++day) {
        skipped += count.unreadable[day];
        if (count.unreadable[day])
            unreadable
                << QStringLiteral("%1 \"%2\"").arg(QLatin1String(weeksections::dayTextKey(day)), days.value(day));
    }
    if (!skipped) {
        recordlog::faultGone(key);
        return;
    }
    recordlog::abnormalOnce(key, days.join('\n'), QStringLiteral("schedule unreadable"), address,
                            QStringLiteral("%1: %2 cannot be read; %3 of %4 segments skipped")
                                .arg(rowName(item, address), unreadable.join(QStringLiteral(", ")))
                                .arg(skipped)
                                .arg(count.total));
}

// A switch's stored text that is neither of its two values: a hand or
// another tool wrote it ("yes", 2). The readers take it as off.
bool isStraySwitch(const QString &stored)
{
    bool number = false;
    const int value = stored.toInt(&number);
    return !number || (value != 0 && value != 1);
}

void tellUnreadableEnable(const _st_schedule_item &item, const QString &address)
{
    const QString key = QStringLiteral("schedule enable %1 %2").arg(address).arg(item.skdtype);
    // NULL reads 0, like a stored 0.
    const QString stored = item.storedEnable.isEmpty() ? QString::number(item.enable) : item.storedEnable;
    if (item.enable == 1 || !isStraySwitch(stored)) {
        recordlog::faultGone(key);
        return;
    }
    recordlog::abnormalOnce(
        key, stored, QStringLiteral("schedule unreadable"), address,
        QStringLiteral("%1: enable %2 is neither 0 nor 1; the schedule is off").arg(rowName(item, address), stored));
}

// Whether the schedules of one kind are switched on: only a stored 1 is on.
// Any other stored value is told once while it stays.
bool scheduleSwitch(const SettingsRow &row, const char *column, bool on)
{
    const QString key = QStringLiteral("setting ") + QLatin1String(column);
    const QString stored = row.stored(QLatin1String(column));
    if (on || stored.isEmpty() || !isStraySwitch(stored)) {
        recordlog::faultGone(key);
        return on;
    }
    recordlog::abnormalOnce(
        key, stored, QStringLiteral("setting unreadable"), QString(),
        QStringLiteral("%1 %2 is neither 0 nor 1: it is read as off").arg(QLatin1String(column), stored));
    return on;
}

ScheduleLists listsOf(const SettingsRow &row, const QList<_st_schedule_item> &rows)
{
    ScheduleLists lists;
    const bool recording = scheduleSwitch(row, "recordskdenable", row.getRecordScheduleEnable());
    const bool capture = scheduleSwitch(row, "captureskdenable", row.getCaptureScheduleEnable());
    for (const _st_schedule_item &item : qAsConst(rows)) {
        if ((item.skdtype != 0 && item.skdtype != 1) || (item.skdtype == 0 && !recording) ||
            (item.skdtype == 1 && !capture))
            continue;
        // The database keeps an all-devices row's address as "null".
        const QString address = item.ipaddr == QLatin1String("null") ? QString() : item.ipaddr;
        qcStreamServer::ScheduleEntry e;
        e.applyTo = address.isEmpty() ? item.applytype : 1;
        e.enabled = item.enable;
        tellUnreadableEnable(item, address);
        if (!address.isEmpty())
            e.devices = address.split(';');
        const QStringList days = weeksections::dayTexts(item); // Sunday first
        SegmentCount count;
        // The service numbers the days 1 Monday to 7 Sunday.
        for (int day = 1; day <= 7; ++day) {
            e.day = day;
            for (const QString &segment : days.at(day % 7).split(';', Qt::SkipEmptyParts)) {
                ++count.total;
                const bool read = parseSegment(segment, &e.segmentType, &e.start, &e.end);
                if (read)
                    (item.skdtype == 0 ? lists.records : lists.captures) << e;
                // One that ends before it starts goes on to the service,
                // which refuses it: it records nothing either.
                if (!read || e.end < e.start)
                    ++count.unreadable[day % 7];
            }
        }
        tellUnreadableDays(item, address, days, count);
    }
    return lists;
}

// The settings row and the schedule rows, the second not asked for once
// the first could not be read: one statement each.
ReadStatus readStored(qcDatabase *db, SettingsRow &row, QList<_st_schedule_item> &rows)
{
    if (!db)
        return {ReadStatus::Closed};
    row = db->readSettings();
    return row.ok() ? db->readSchedules(rows) : row.status();
}

// The options as a settings read found them.
_st_local_config fromRow(const SettingsRow &row)
{
    _st_local_config c;
    c.snapshotpath = row.getSnapshotPath();
    c.recordpath = row.getRecordPath();
    c.defuser = row.getDefaultUser();
    c.defpwd = row.getDefaultPassword();
    c.autoadd = row.getAutoAdd() ? 1 : 0;
    c.showmode = row.getShowMode();
    c.autostream = row.getAutoStream() ? 1 : 0;
    c.autoplay = row.getAutoPlay() ? 1 : 0;
    c.recordduration = row.getRecordDuration();
    c.snapshotquality = row.getSnapshotQuality();
    c.snapshotformat = row.getSnapshotFormat();
    c.prevrecord = row.getPrevRecord();
    c.postrecord = row.getPostRecord();
    c.recordstream = row.getRecordStream();
    c.capturecount = row.getCaptureCount();
    c.captureinterval = row.getCaptureInterval();
    c.reservedsize = row.getReservedSize();
    c.keepdays = row.getKeepDays();
    return c;
}

} // namespace

_st_local_config read(qcDatabase *db)
{
    const SettingsRow row = db ? db->readSettings() : SettingsRow();
    return row.ok() ? fromRow(row) : _st_local_config();
}

_st_local_config clamped(const _st_local_config &config)
{
    using namespace settingranges;
    _st_local_config c = config;
    c.recordduration = clampValue("recordduration", c.recordduration, kRecordDuration);
    c.prevrecord = clampValue("prevrecord", c.prevrecord, kPrevRecord);
    c.postrecord = clampValue("postrecord", c.postrecord, kPostRecord);
    c.recordstream = clampValue("recordstream", c.recordstream, kRecordStream);
    c.reservedsize = clampValue("reservedsize", c.reservedsize, kReservedSize);
    c.keepdays = clampValue("keepdays", c.keepdays, kKeepDays);
    c.capturecount = clampValue("capturecount", c.capturecount, kCaptureCount);
    c.captureinterval = clampValue("captureinterval", c.captureinterval, kCaptureInterval);
    return c;
}

bool handOptions(qcStreamServer *server, const _st_local_config &config)
{
    // A single value out of range would make the service refuse the whole
    // configuration and leave it without record and capture roots.
    const _st_local_config c = clamped(config);
    if (server && server->setLocalConfig(c.recordpath, c.snapshotpath, c.recordduration, c.prevrecord, c.postrecord,
                                         c.recordstream, c.reservedsize, c.keepdays, c.capturecount, c.captureinterval))
        return true;
    qDebug() << "----Stream service refused the local config----";
    return false;
}

bool parseSegment(const QString &segment, int *type, int *start, int *end)
{
    const QStringList typed = segment.split(':');
    if (typed.size() != 2 || (typed[0] != QLatin1String("0") && typed[0] != QLatin1String("1")))
        return false;
    const QStringList range = typed[1].split('-');
    if (range.size() != 2)
        return false;
    // A part that is no number counts as 0; the service checks the order.
    *type = typed[0].toInt();
    *start = range[0].toInt();
    *end = range[1].toInt();
    return *start != *end;
}

ScheduleLists scheduleLists(qcDatabase *db)
{
    SettingsRow row;
    QList<_st_schedule_item> rows;
    return readStored(db, row, rows).ok() ? listsOf(row, rows) : ScheduleLists();
}

ReadStatus refresh(qcStreamServer *server, qcDatabase *db, _st_local_config &config)
{
    SettingsRow row;
    QList<_st_schedule_item> rows;
    const ReadStatus status = readStored(db, row, rows);
    if (!status.ok())
        return status;
    const ScheduleLists lists = listsOf(row, rows);
    config = fromRow(row);
    handOptions(server, config);
    if (server)
        server->replaceSchedules(lists.records, lists.captures);
    return status;
}

} // namespace livelocalconfig
