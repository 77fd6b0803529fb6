#pragma once

#include "localsettings/localschedules.h"

#include <QList>
#include <QString>

class qcDatabase;
class SettingsRow;

// What the operator is told about the local schedules beyond their weeks:
// that a kind's schedules do nothing while its switch in the system options
// ("Scheduled recording", "Scheduled snapshots") is off, and which device's
// schedule of which kind a save wrote, in the system log.
namespace schedulenotes {

// Whether the stream service acts on schedules of kind now.
bool switchedOn(qcDatabase *db, int kind);
bool switchedOn(const SettingsRow &row, int kind);
// The note shown while kind's switch is off.
QString idleNote(int kind);
// The notes of those of kinds whose switch is off, each kind once, in the
// order given; empty when every one is on or the switches could not be read.
QString idleNotes(qcDatabase *db, const QList<int> &kinds);
// "Recording schedule" or "Snapshot schedule".
QString kindName(int kind);
// One log record for a schedule written: the device it belongs to and its
// kind. A refused one is told and logged through refusal::tell.
void logSaved(const localschedules::Subject &subject);

} // namespace schedulenotes
