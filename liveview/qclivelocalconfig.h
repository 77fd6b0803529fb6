#pragma once

#include "app/core/readstatus.h"
#include "media/qcstreamserver.h"

#include <QString>

class qcDatabase;

// The local settings as the live page read them last.
struct _st_local_config
{
    QString snapshotpath;
    QString recordpath;
    QString defuser;
    QString defpwd;
    int autoadd = 0;
    int showmode = 0;
    int autostream = 0;
    int autoplay = 0;
    int recordduration = 0;
    int snapshotquality = 0;
    int snapshotformat = 0;
    int prevrecord = 0;
    int postrecord = 0;
    int recordstream = 0;
    int capturecount = 0;
    int captureinterval = 0;
    int reservedsize = 0;
    int keepdays = 0;
};

// What the stream service takes from the local database: the recording and
// snapshot options and the schedule lists. Read at start and again whenever
// the local settings were saved, so that a change acts at once.
namespace livelocalconfig {

// The options of one settings read. A read that did not work gives the
// defaults above, which are no stored values: the caller keeps what it had
// (refresh() below says whether it worked).
_st_local_config read(qcDatabase *db);

// The options moved into the ranges the stream service accepts; names each
// value it changed in the debug output.
_st_local_config clamped(const _st_local_config &config);

// Hands the service the clamped options; false when it refused them.
bool handOptions(qcStreamServer *server, const _st_local_config &config);

// One "T:S-E" segment of a schedule day as the service's entry; false when
// the text is not of that form or start equals end (the service checks
// the rest).
bool parseSegment(const QString &segment, int *type, int *start, int *end);

struct ScheduleLists
{
    QList<qcStreamServer::ScheduleEntry> records;
    QList<qcStreamServer::ScheduleEntry> captures;
};

// The entries of the stored rows whose kind is switched on (scheduled
// recording, timed snapshots), one per segment of each day, Monday 1 to
// Sunday 7. A row that names a device applies to that device alone, even
// when it was stored as applying to all (the local settings page stores
// its rows so). A kind's switch or a row's enable stored as anything but
// 0 or 1 is off, told once in the system log while it stays.
// Lists from a read that did not work are empty and no schedules.
ScheduleLists scheduleLists(qcDatabase *db);

// Reads the options and the schedules and, only when both were read, hands
// them to the service and keeps the options in `config`. Otherwise the
// service and `config` keep the last good values: a recorder keeps its
// folders, schedules and lengths, nothing is switched off.
ReadStatus refresh(qcStreamServer *server, qcDatabase *db, _st_local_config &config);

} // namespace livelocalconfig
