#include "media/talklog.h"

#include "app/core/loghelper.h"
#include "device/qcdeviceintercom.h"

#include <QDebug>

namespace talklog {

void ended(const QString &address, const QString &name, End end, int error, int lostMs)
{
    const bool lost = lostMs > qcDeviceIntercom::kMomentMs;
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
    case Stopped:
        if (!lost)
            return;
        note = QStringLiteral("the talk ended");
        break;
    default:
        return;
    }
    if (lost)
        note += QStringLiteral("; %1 ms of the microphone's sound did not reach the device").arg(lostMs);
    const QString decl =
        end == Refused || end == NoMicrophone ? QStringLiteral("talk failed") : QStringLiteral("talk ended");
    qWarning().noquote() << decl + QStringLiteral(":") << address << note;
    // No operator wrote it: the user name belongs to the GUI thread.
    writeSystemLog(QString(), decl, name, address, note, kLogAbnormalEvent);
}

} // namespace talklog
