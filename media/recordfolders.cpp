#include "media/recordfolders.h"

#include "media/recordlog.h"

namespace recordfolders {

QString usable(const QString &setting, const QString &stored)
{
    const QString key = QStringLiteral("blank folder ") + setting;
    if (!stored.trimmed().isEmpty()) {
        recordlog::faultGone(key);
        return stored;
    }
    recordlog::abnormalOnce(
        key, stored, QStringLiteral("folder setting empty"), QString(),
        QStringLiteral("%1 \"%2\" names no folder: the run folder \".\" is used").arg(setting, stored));
    return QStringLiteral(".");
}

QString recordRoot(const QString &storedRecordPath)
{
    return usable(QStringLiteral("recordpath"), storedRecordPath) + QStringLiteral("/RecordFile");
}

QString captureRoot(const QString &storedSnapshotPath)
{
    return usable(QStringLiteral("snapshotpath"), storedSnapshotPath) + QStringLiteral("/CaptureFile");
}

} // namespace recordfolders
