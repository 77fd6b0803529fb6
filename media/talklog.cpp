#include "media/talklog.h"

#include "app/core/loghelper.h"

#include <QDebug>

namespace talklog {

void ended(const QString &address, const QString &name, End end, int error)
{
    QString note;
    switch (end) {
    case NoMicrophone:
        note = QStringLiteral("the talk cannot start: the microphone cannot be opened (error %1)").arg(error);
        break;
    case Refused:
        note = QStringLiteral("the talk cannot start: the device cannot be reached or did not take it");
        break;
    case Dropped:
        note = QStringLiteral("the talk ended: the device dropped its connection");
        break;
    default:
        return;
    }
    const QString decl = end == Dropped ? QStringLiteral("talk ended") : QStringLiteral("talk failed");
    qWarning().noquote() << decl + QStringLiteral(":") << address << note;
    // No operator wrote it: the user name belongs to the GUI thread.
    writeSystemLog(QString(), decl, name, address, note, kLogAbnormalEvent);
}

} // namespace talklog
