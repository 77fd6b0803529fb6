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

std::mutex g_mutex;
QSet<QString> g_told;

} // namespace

void cannotStart(const QString &path, const QString &reason)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_told.contains(path))
            return;
        g_told.insert(path);
    }
    const QFileInfo file(path);
    qWarning().noquote() << "recording cannot start:" << path << reason;
    // No operator did this, and the user name belongs to the GUI thread.
    writeSystemLog(QString(), QStringLiteral("record failed"), QString(), file.dir().dirName(),
                   file.fileName() + QStringLiteral(": ") + reason, kLogAbnormalEvent);
}

void started(const QString &path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_told.remove(path);
}

} // namespace recordlog

namespace recordlog {

namespace {

std::mutex g_onceMutex;
QHash<QString, QSet<QString>> g_faults;

} // namespace

void abnormal(const QString &decl, const QString &devAddr, const QString &note)
{
    qWarning().noquote() << decl + QStringLiteral(":") << note;
    writeSystemLog(QString(), decl, QString(), devAddr, note, kLogAbnormalEvent);
}

bool abnormalOnce(const QString &key, const QString &detail, const QString &decl, const QString &devAddr,
                  const QString &note)
{
    {
        std::lock_guard<std::mutex> lock(g_onceMutex);
        QSet<QString> &told = g_faults[key];
        if (told.contains(detail))
            return false;
        told.insert(detail);
    }
    abnormal(decl, devAddr, note);
    return true;
}

void faultGone(const QString &key)
{
    std::lock_guard<std::mutex> lock(g_onceMutex);
    g_faults.remove(key);
}

} // namespace recordlog

// ---- The start-up repair of the record folders
namespace recordlog {

namespace {

std::mutex g_repairMutex;
QSet<QString> g_saidUnreadable;
QSet<QString> g_loggedUnreadable;

void logRepair(const QString &path, const QString &what)
{
    const QFileInfo target(path);
    // The device's folder: the folder itself, or the one holding the file.
    const QString device = target.isDir() ? target.fileName() : target.dir().dirName();
    writeSystemLog(QString(), QStringLiteral("record repair"), QString(), device, path + QStringLiteral(": ") + what,
                   kLogAbnormalEvent);
}

} // namespace

void repaired(const QString &path, const QString &what, bool systemLog)
{
    qDebug().noquote() << "record repair:" << path + ':' << what;
    if (systemLog)
        logRepair(path, what);
}

void unreadable(const QString &path, qint64 bytes, bool systemLog)
{
    bool say = false, log = false;
    {
        std::lock_guard<std::mutex> lock(g_repairMutex);
        if (!g_saidUnreadable.contains(path)) {
            g_saidUnreadable.insert(path);
            say = true;
        }
        if (systemLog && !g_loggedUnreadable.contains(path)) {
            g_loggedUnreadable.insert(path);
            log = true;
        }
    }
    const QString what = QStringLiteral("left as it is, %1 bytes: it does not read as a recording").arg(bytes);
    if (say)
        qDebug().noquote() << "record repair:" << path + ':' << what;
    if (log)
        logRepair(path, what);
}

} // namespace recordlog
