#include "liveview/qclivelocalconfig.h"

#include "app/core/database.h"
#include "app/core/settingranges.h"
#include "app/core/weeksections.h"

#include <QDebug>

namespace livelocalconfig {

namespace {

int clampValue(const char *name, int value, settingranges::Range range)
{
    const int clamped = range.clamp(value);
    if (clamped != value)
        qDebug() << "----Local config" << name << value << "out of range, using" << clamped << "----";
    return clamped;
}

} // namespace

_st_local_config read(qcDatabase *db)
{
    _st_local_config c;
    if (!db)
        return c;
    c.snapshotpath = db->getSnapshotPath();
    c.recordpath = db->getRecordPath();
    c.defuser = db->getDefaultUser();
    c.defpwd = db->getDefaultPassword();
    c.autoadd = db->getAutoAdd() ? 1 : 0;
    c.showmode = db->getShowMode();
    c.autostream = db->getAutoStream() ? 1 : 0;
    c.autoplay = db->getAutoPlay() ? 1 : 0;
    c.recordduration = db->getRecordDuration();
    c.snapshotquality = db->getSnapshotQuality();
    c.snapshotformat = db->getSnapshotFormat();
    c.prevrecord = db->getPrevRecord();
    c.postrecord = db->getPostRecord();
    c.recordstream = db->getRecordStream();
    c.capturecount = db->getCaptureCount();
    c.captureinterval = db->getCaptureInterval();
    c.reservedsize = db->getReservedSize();
    c.keepdays = db->getKeepDays();
    return c;
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
    ScheduleLists lists;
    if (!db)
        return lists;
    const bool recording = db->getRecordScheduleEnable();
    const bool capture = db->getCaptureScheduleEnable();
    _st_schedule_item item;
    for (int i = 0; db->getSchedule(item, i); ++i) {
        if ((item.skdtype != 0 && item.skdtype != 1) || (item.skdtype == 0 && !recording) ||
            (item.skdtype == 1 && !capture))
            continue;
        // The database keeps an all-devices row's address as "null".
        const QString address = item.ipaddr == QLatin1String("null") ? QString() : item.ipaddr;
        qcStreamServer::ScheduleEntry e;
        e.applyTo = address.isEmpty() ? item.applytype : 1;
        e.enabled = item.enable;
        if (!address.isEmpty())
            e.devices = address.split(';');
        const QStringList days = weeksections::dayTexts(item); // Sunday first
        // The service numbers the days 1 Monday to 7 Sunday.
        for (int day = 1; day <= 7; ++day) {
            e.day = day;
            for (const QString &segment : days.at(day % 7).split(';')) {
                if (parseSegment(segment, &e.segmentType, &e.start, &e.end))
                    (item.skdtype == 0 ? lists.records : lists.captures) << e;
            }
        }
    }
    return lists;
}

bool replaceSchedules(qcStreamServer *server, qcDatabase *db)
{
    if (!server || !db)
        return false;
    const ScheduleLists lists = scheduleLists(db);
    server->replaceSchedules(lists.records, lists.captures);
    return true;
}

} // namespace livelocalconfig
