#include "localsettings/schedulenotes.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "localsettings/localpagelook.h"

#include <QStringList>

namespace schedulenotes {

bool switchedOn(qcDatabase *db, int kind)
{
    return db && switchedOn(db->readSettings(), kind);
}

bool switchedOn(const SettingsRow &row, int kind)
{
    return kind == localschedules::kSnapshot ? row.getCaptureScheduleEnable() : row.getRecordScheduleEnable();
}

QString idleNote(int kind)
{
    return localpage::text(kind == localschedules::kSnapshot ? "capschedoff" : "recschedoff");
}

QString idleNotes(qcDatabase *db, const QList<int> &kinds)
{
    // Switches that could not be read are not known to be off.
    const SettingsRow row = db ? db->readSettings() : SettingsRow();
    if (!row.ok())
        return QString();
    QList<int> told;
    QStringList notes;
    for (int kind : kinds) {
        if (told.contains(kind) || switchedOn(row, kind))
            continue;
        told << kind;
        notes << idleNote(kind);
    }
    return notes.join(QLatin1Char(' '));
}

QString kindName(int kind)
{
    return localpage::text(kind == localschedules::kSnapshot ? "capschedule" : "recschedule");
}

void logSaved(const localschedules::Subject &subject)
{
    writeSystemLog(g_curUserName, QStringLiteral("modify schedule"), subject.name, subject.address,
                   kindName(subject.kind), kLogOperation);
}

} // namespace schedulenotes
