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

namespace {

thread_local FolderPass *t_pass = nullptr;

void tellRepair(const QString &path, const QString &what, bool systemLog, qint64 bytes, bool done)
{
    qDebug().noquote() << "record repair:" << path + ':' << what;
    if (!systemLog)
        return;
    if (FolderPass *pass = FolderPass::current()) {
        if (done)
            pass->done(path, what, bytes);
        else
            pass->failed(path, what, bytes);
        return;
    }
    logRepair(path, what);
}

} // namespace

void repaired(const QString &path, const QString &what, bool systemLog, qint64 bytes)
{
    tellRepair(path, what, systemLog, bytes, true);
}

void notRepaired(const QString &path, const QString &what, bool systemLog, qint64 bytes)
{
    tellRepair(path, what, systemLog, bytes, false);
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
    if (!log)
        return;
    if (FolderPass *pass = FolderPass::current())
        pass->leftAsItIs(path, what);
    else
        logRepair(path, what);
}

FolderPass::FolderPass(const QString &folder) : m_folder(folder), m_outer(t_pass)
{
    t_pass = this;
}

FolderPass::~FolderPass()
{
    t_pass = m_outer;
    QStringList parts;
    const int repairs = m_done.count + m_failed.count;
    if (repairs) {
        QString head = repairs == 1 ? QStringLiteral("1 repair") : QStringLiteral("%1 repairs").arg(repairs);
        if (m_failed.count)
            head += QStringLiteral(" (%1 failed)").arg(m_failed.count);
        parts << head + QStringLiteral(", %1 bytes cut off or deleted").arg(m_bytes);
    }
    if (m_done.count)
        parts << QStringLiteral("done: ") + entries(m_done);
    if (m_failed.count)
        parts << QStringLiteral("failed: ") + entries(m_failed);
    if (m_unreadable.count)
        parts << (m_unreadable.count == 1 ? QStringLiteral("1 file left as it is: ")
                                          : QStringLiteral("%1 files left as they are: ").arg(m_unreadable.count)) +
                     entries(m_unreadable);
    if (parts.isEmpty())
        return;
    writeSystemLog(QString(), QStringLiteral("record repair"), QString(), QFileInfo(m_folder).fileName(),
                   m_folder + QStringLiteral(": the start-up repair: ") + parts.join(QStringLiteral("; ")),
                   kLogAbnormalEvent);
}

FolderPass *FolderPass::current()
{
    return t_pass;
}

void FolderPass::done(const QString &path, const QString &what, qint64 bytes)
{
    add(&m_done, path, what, bytes);
}

void FolderPass::failed(const QString &path, const QString &what, qint64 bytes)
{
    add(&m_failed, path, what, bytes);
}

void FolderPass::leftAsItIs(const QString &path, const QString &what)
{
    add(&m_unreadable, path, what, 0);
}

void FolderPass::add(Group *group, const QString &path, const QString &what, qint64 bytes)
{
    // Within the folder a file's name says enough.
    const QFileInfo file(path);
    const QString name = QDir::cleanPath(file.path()) == QDir::cleanPath(m_folder) ? file.fileName() : path;
    const QString entry = name + QStringLiteral(" (") + what + ')';
    if (!group->count++)
        group->first = entry;
    group->last = entry;
    m_bytes += bytes;
}

QString FolderPass::entries(const Group &group)
{
    return group.count == 1 ? group.first
                            : QStringLiteral("the first ") + group.first + QStringLiteral(", the last ") + group.last;
}

} // namespace recordlog
