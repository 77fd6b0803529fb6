#include "media/recordfolders.h"

#include "media/recordlog.h"

#include <QDir>

namespace recordfolders {

QString usable(const QString &setting, const QString &stored)
{
    const QString key = QStringLiteral("blank folder ") + setting;
    if (!stored.trimmed().isEmpty()) {
        recordlog::faultGone(key);
        // One form for every part: the guard of the record trees compares
        // paths as text, so a ".." is taken as text here too, never by the
        // system through a folder that is missing or a link.
        return QDir::cleanPath(stored);
    }
    recordlog::abnormalOnce(
        key, stored, QStringLiteral("folder setting empty"), QString(),
        QStringLiteral("%1 \"%2\" names no folder: the run folder \".\" is used").arg(setting, stored));
    return QStringLiteral(".");
}

QString recordRoot(const QString &storedRecordPath)
{
    return QDir::cleanPath(usable(QStringLiteral("recordpath"), storedRecordPath) + QStringLiteral("/RecordFile"));
}

QString captureRoot(const QString &storedSnapshotPath)
{
    return QDir::cleanPath(usable(QStringLiteral("snapshotpath"), storedSnapshotPath) + QStringLiteral("/CaptureFile"));
}

} // namespace recordfolders
