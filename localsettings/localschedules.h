#pragma once

#include "app/core/readstatus.h"
#include "app/core/weeksections.h"

#include <QList>
#include <QString>

class qcDatabase;

// The schedules the local schedules page edits and how they are stored:
// the snapshot schedule (a row of kind 1 that names no device, stored with
// the address "null") and a recording schedule per listed device (a row of
// kind 0 with the device's address). Rows the page writes apply as the
// database's rows of the page always do (apply type 0) and are enabled.
namespace localschedules {

constexpr int kRecording = 0;
constexpr int kSnapshot = 1;

struct Subject
{
    int kind = kRecording;
    QString address; // empty for the snapshot schedule
    QString name;
    bool stored = false;
    _st_schedule_item row; // as stored; the defaults when not stored
    weeksections::StoredWeek week;
};

// The snapshot schedule first, then one per device in the database's order.
// `status` (when given) says whether the rows and devices were read; a
// read that did not work gives no subjects.
QList<Subject> load(qcDatabase *db, ReadStatus *status = nullptr);

// Stores the day texts (Sunday first) of a subject: a new row when none was
// stored, all seven day columns of a stored one at once, and no row when
// every day is empty. True when the database took all of it; else `failure`
// (when given) says why, in the database's words where it gave any.
bool save(qcDatabase *db, const Subject &subject, const QStringList &texts, QString *failure = nullptr);
// The subject as the database holds it once save() took those texts.
Subject saved(const Subject &subject, const QStringList &texts);

} // namespace localschedules
