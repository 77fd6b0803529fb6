#include "media/recordlog.h"

#include "app/core/loghelper.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <mutex>

namespace recordlog {

namespace {

// What was told already, by what is at fault and its faulty value. The
// recorders, the stream service and the start-up pass tell from their own
// threads.
std::mutex g_mutex;
QHash<QString, QSet<QString>> g_told;

// Keys of the faults this file tells itself; those of abnormalOnce's callers
// are setting and folder names.
const QString kCannotStart = QStringLiteral("recordlog: record failed");
const QString kUnreadableSaid = QStringLiteral("recordlog: unreadable said");
const QString kUnreadableLogged = QStringLiteral("recordlog: unreadable logged");

// True the first time `detail` is told under `key`.
bool firstTime(const QString &key, const QString &detail)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    QSet<QString> &told = g_told[key];
    if (told.contains(detail))
        return false;
    told.insert(detail);
    return true;
}

void logRepair(const QString &path, const QString &what)
{
    const QFileInfo target(path);
    // The device's folder: the folder itself, or the one holding the file.
    const QString device = target.isDir() ? target.fileName() : target.dir().dirName();
    writeSystemLog(QString(), QStringLiteral("record repair"), QString(), device, path + QStringLiteral(": ") + what,
                   kLogAbnormalEvent);
}

} // namespace

void cannotStart(const QString &path, const QString &reason)
{
    if (!firstTime(kCannotStart, path))
        return;
    const QFileInfo file(path);
    qWarning().noquote() << "recording cannot start:" << path << reason;
    // No operator did this, and the user name belongs to the GUI thread.
    writeSystemLog(QString(), QStringLiteral("record failed"), QString(), file.dir().dirName(),
                   file.fileName() + QStringLiteral(": ") + reason, kLogAbnormalEvent);
}

void started(const QString &path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_told[kCannotStart].remove(path);
}

void abnormal(const QString &decl, const QString &devAddr, const QString &note)
{
    qWarning().noquote() << decl + QStringLiteral(":") << note;
    writeSystemLog(QString(), decl, QString(), devAddr, note, kLogAbnormalEvent);
}

bool abnormalOnce(const QString &key, const QString &detail, const QString &decl, const QString &devAddr,
                  const QString &note)
{
    if (!firstTime(key, detail))
        return false;
    abnormal(decl, devAddr, note);
    return true;
}

void faultGone(const QString &key)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_told.remove(key);
}

void repaired(const QString &path, const QString &what, bool systemLog)
{
    qDebug().noquote() << "record repair:" << path + ':' << what;
    if (systemLog)
        logRepair(path, what);
}

void unreadable(const QString &path, qint64 bytes, bool systemLog)
{
    // The console hears of it once, whoever met it first; the system log
    // once from the start-up pass (the recorder's own record covers it).
    const bool say = firstTime(kUnreadableSaid, path);
    const bool log = systemLog && firstTime(kUnreadableLogged, path);
    const QString what = QStringLiteral("left as it is, %1 bytes: it does not read as a recording").arg(bytes);
    if (say)
        qDebug().noquote() << "record repair:" << path + ':' << what;
    if (log)
        logRepair(path, what);
}

} // namespace recordlog
