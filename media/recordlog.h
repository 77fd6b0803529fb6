#pragma once

#include <QString>

// Recording faults an operator must be able to see. A recording that cannot
// start goes into the system log as an abnormal event, once per file name
// until a recording under that name starts again: the stream service tries
// a scheduled recording again on every tick.
namespace recordlog {

// path: the recording's first name; its folder is named after the device.
void cannotStart(const QString &path, const QString &reason);
void started(const QString &path);

// Faults of the recording set-up, of the recorder and of the disk guard,
// each one record of an abnormal event in the system log (and a warning on
// the console). Settings are read again on every save and schedules looked
// at on every tick, so a lasting fault is told once: `key` names what is at
// fault, `detail` its faulty value; the same key and detail add nothing more
// until faultGone(key) says the fault was mended.
void abnormal(const QString &decl, const QString &devAddr, const QString &note);
// True when the record was written now.
bool abnormalOnce(const QString &key, const QString &detail, const QString &decl, const QString &devAddr,
                  const QString &note);
void faultGone(const QString &key);

// The start-up repair: what a repair did to a folder's index file or to a record file (`path`),
// with how much was lost or deleted: said on the console, and, when
// systemLog (the start-up pass), in the system log as one abnormal event.
void repaired(const QString &path, const QString &what, bool systemLog);
// A record file the repair leaves as it is because it does not read as a
// recording: said once per path while the process runs, on the console and,
// when systemLog, in the system log. A recorder finds the same file under
// its first name on every try.
void unreadable(const QString &path, qint64 bytes, bool systemLog);

} // namespace recordlog
