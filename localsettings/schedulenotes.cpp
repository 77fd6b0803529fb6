#include "localsettings/schedulenotes.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "localsettings/localpagelook.h"

#include <QStringList>

namespace schedulenotes {

bool switchedOn(qcDatabase *db, int kind)
{
    if (!db)
        return false;
    return kind == localschedules::kSnapshot ? db->getCaptureScheduleEnable() : db->getRecordScheduleEnable();
}

QString idleNote(int kind)
{
    return localpage::text(kind == localschedules::kSnapshot ? "capschedoff" : "recschedoff");
}

QString idleNotes(qcDatabase *db, const QList<int> &kinds)
{
    QList<int> told;
    QStringList notes;
    for (int kind : kinds) {
        if (told.contains(kind) || switchedOn(db, kind))
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
