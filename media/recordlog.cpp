#include "media/recordlog.h"

#include "app/core/loghelper.h"
#include "media/capturefile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
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
const QString kHandOverLost = QStringLiteral("recordlog: hand-over lost: ");
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

void handOverLost(const QString &path, const QString &what)
{
    const QFileInfo file(path);
    const QString device = file.dir().dirName();
    const QString note = file.fileName() + QStringLiteral(": ") + what;
    if (!abnormalOnce(kHandOverLost + device, QString(), QStringLiteral("record frames lost"), device, note))
        qWarning().noquote() << "record frames lost:" << note;
}

void handOverWhole(const QString &path)
{
    faultGone(kHandOverLost + QFileInfo(path).dir().dirName());
}

void leftAlone(const QString &key, const QString &path, const QString &decl, const QString &what)
{
    const QString note = path + QStringLiteral(": ") + what;
    FolderPass *pass = FolderPass::current();
    if (!pass) {
        abnormalOnce(key, path, decl, QFileInfo(path).dir().dirName(), note);
        return;
    }
    if (!firstTime(key, path))
        return;
    qWarning().noquote() << decl + QStringLiteral(":") << note;
    pass->leftAsItIs(path, what);
}

void notMoved(const QString &path, const QString &why)
{
    leftAlone(QStringLiteral("recordlog: not moved: ") + why, path, QStringLiteral("record not moved"),
              QStringLiteral("not moved: %1; it stays where it is").arg(why));
}

namespace {

// One record for a folder's recordings that a set-back clock moved or took
// off the list: a day's worth would otherwise be a record each.
void tellSetBack(const QString &folder, const QString &decl, const QString &what, const QStringList &names)
{
    if (names.isEmpty())
        return;
    for (const QString &name : names)
        qWarning().noquote() << decl + QStringLiteral(":") << folder + '/' + name + QStringLiteral(": ") + what;
    QString note =
        folder + QStringLiteral(": ") +
        (names.size() == 1 ? QStringLiteral("1 recording ") : QStringLiteral("%1 recordings ").arg(names.size())) +
        what + QStringLiteral(": ") + names.first();
    if (names.size() > 1)
        note += QStringLiteral(" … ") + names.last();
    writeSystemLog(QString(), decl, QString(), QFileInfo(folder).fileName(), note, kLogAbnormalEvent);
}

} // namespace

void movedDatedAhead(const QString &folder, const QString &to, const QStringList &names, const QDateTime &now)
{
    tellSetBack(folder, QStringLiteral("record move"),
                QStringLiteral("moved into %1: dated after the computer's clock (%2), which went back")
                    .arg(to, now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))),
                names);
}

void unlistedAfterSetBack(const QString &folder, const QStringList &names, qint64 restart)
{
    tellSetBack(folder, QStringLiteral("record move"),
                QStringLiteral("taken off the list: ending after %1, the time the stream went back to with the "
                               "computer's clock")
                    .arg(QTime::fromMSecsSinceStartOfDay(int(qBound<qint64>(0, restart, 86399999)))
                             .toString(QStringLiteral("hh:mm:ss.zzz"))),
                names);
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

FolderPass::FolderPass(const QString &folder, const QString &pass, const QString &decl)
    : m_folder(folder), m_pass(pass), m_decl(decl), m_outer(t_pass)
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
    if (m_leftAlone.count)
        parts << (m_leftAlone.count == 1 ? QStringLiteral("1 file left as it is: ")
                                         : QStringLiteral("%1 files left as they are: ").arg(m_leftAlone.count)) +
                     entries(m_leftAlone);
    if (parts.isEmpty())
        return;
    writeSystemLog(QString(), m_decl, QString(), QFileInfo(m_folder).fileName(),
                   m_folder + QStringLiteral(": ") + m_pass + QStringLiteral(": ") + parts.join(QStringLiteral("; ")),
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
    add(&m_leftAlone, path, what, 0);
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

namespace {

// A full disk being told: what happened since its first record.
struct FullDisk
{
    int cut = 0;
    int deleted = 0;
    qint64 freedBytes = 0;
    QString oldest, newest;
};
std::mutex g_fullMutex;
// By record folder, as the guard and the recorders were given it.
QMap<QString, FullDisk> g_full;

QString passNote(const GuardPass &pass)
{
    return QStringLiteral("%1: %2 GiB free, below the reserve of %3 GiB: %4 recordings deleted "
                          "(%5 MiB), the oldest %6, the newest %7")
        .arg(pass.root)
        .arg(pass.freeGiB, 0, 'f', 1)
        .arg(pass.reserveGiB)
        .arg(pass.deleted)
        .arg(pass.freedBytes >> 20)
        .arg(pass.oldest, pass.newest);
}

const QString kCounted = QStringLiteral("until it has room again, the recordings it cuts short and those the disk "
                                        "guard deletes are counted, and told when it ends");

QString whileFull(const FullDisk &full)
{
    QString note = QStringLiteral("while it was full, %1 recordings were cut short and %2 recordings deleted")
                       .arg(full.cut)
                       .arg(full.deleted);
    if (full.deleted)
        note += QStringLiteral(" (%1 MiB), the oldest %2, the newest %3")
                    .arg(full.freedBytes >> 20)
                    .arg(full.oldest, full.newest);
    return note;
}

// The end of `root`'s full disk; caller holds g_fullMutex.
void endFullDisk(const QString &root, const QString &room)
{
    const auto it = g_full.find(root);
    if (it == g_full.end())
        return;
    const QString note = root + QStringLiteral(": the disk has room again (%1); ").arg(room) + whileFull(*it);
    g_full.erase(it);
    abnormal(QStringLiteral("disk full ended"), QString(), note);
}

// The guard keeps room in `root` now: the full disks of other folders are
// told as what is known of them; caller holds g_fullMutex.
void leaveOtherFolders(const QString &root)
{
    for (auto it = g_full.begin(); it != g_full.end();) {
        if (it.key() == root) {
            ++it;
            continue;
        }
        abnormal(QStringLiteral("disk full no longer watched"), QString(),
                 it.key() +
                     QStringLiteral(": the recordings go to %1 now, and whether this folder's disk has room again is "
                                    "no longer looked at; ")
                         .arg(root) +
                     whileFull(*it));
        it = g_full.erase(it);
    }
}

} // namespace

void cutByFullDisk(const QString &root, const QString &path, const QString &note)
{
    std::lock_guard<std::mutex> lock(g_fullMutex);
    const QString said = path + QStringLiteral(": ") + note;
    const auto it = g_full.find(root);
    if (it != g_full.end()) {
        ++it->cut;
        qWarning().noquote() << "record ended:" << said;
        return;
    }
    // The end counts it too: it was cut short by the full disk as well.
    g_full[root].cut = 1;
    abnormal(QStringLiteral("record ended"), QFileInfo(path).dir().dirName(), said + QStringLiteral("; ") + kCounted);
}

void guardDeleted(const GuardPass &pass)
{
    std::lock_guard<std::mutex> lock(g_fullMutex);
    leaveOtherFolders(pass.root);
    const auto it = g_full.find(pass.root);
    if (it == g_full.end()) {
        if (pass.reserveFree) {
            abnormal(QStringLiteral("recordings deleted"), QString(), passNote(pass));
            return;
        }
        g_full.insert(pass.root, FullDisk());
        abnormal(QStringLiteral("recordings deleted"), QString(),
                 passNote(pass) + QStringLiteral("; the disk stays below its reserve: ") + kCounted);
        return;
    }
    qWarning().noquote() << "recordings deleted:" << passNote(pass);
    if (pass.deleted) {
        it->deleted += pass.deleted;
        it->freedBytes += pass.freedBytes;
        if (it->oldest.isEmpty())
            it->oldest = pass.oldest;
        it->newest = pass.newest;
    }
    if (pass.reserveFree)
        endFullDisk(
            pass.root,
            QStringLiteral("the reserve of %1 GiB is free after the last recordings deleted").arg(pass.reserveGiB));
}

void guardFoundRoom(const QString &root, double freeGiB, qint64 reserveGiB)
{
    std::lock_guard<std::mutex> lock(g_fullMutex);
    leaveOtherFolders(root);
    endFullDisk(root, QStringLiteral("%1 GiB free, the reserve is %2 GiB").arg(freeGiB, 0, 'f', 1).arg(reserveGiB));
}

bool diskFull(const QString &root)
{
    std::lock_guard<std::mutex> lock(g_fullMutex);
    return root.isEmpty() ? !g_full.isEmpty() : g_full.contains(root);
}

namespace {

// The pictures not stored since the first of them was told; `full`: that
// one was lost to a full disk.
struct LostPictures
{
    bool on = false;
    bool full = false;
    int count = 0;
    QString first, last;
};
std::mutex g_picturesMutex;
LostPictures g_pictures;

QString deviceOf(const QString &path)
{
    const QFileInfo file(path);
    return file.suffix().isEmpty() ? file.fileName() : file.dir().dirName();
}

QString causeOf(int error)
{
    if (capturefile::noRoom(error))
        return QStringLiteral("the disk is full");
    if (error == capturefile::kNoPicture)
        return QStringLiteral("the camera delivers no picture");
    return QStringLiteral("it cannot be written (%1)").arg(qt_error_string(error));
}

} // namespace

void pictureNotStored(const QString &path, int error)
{
    std::lock_guard<std::mutex> lock(g_picturesMutex);
    const QString cause = causeOf(error);
    ++g_pictures.count;
    // A full disk says it all; any other cause goes with its picture.
    g_pictures.last = capturefile::noRoom(error) ? path : path + QStringLiteral(" (") + cause + ')';
    if (g_pictures.on) {
        qWarning().noquote() << "snapshot not stored, " + cause + ':' << path;
        return;
    }
    g_pictures.on = true;
    g_pictures.full = capturefile::noRoom(error);
    g_pictures.first = g_pictures.last;
    abnormal(QStringLiteral("snapshot failed"), deviceOf(path),
             g_pictures.full
                 ? path + QStringLiteral(": the disk is full, the picture is not stored; until it has room again, the "
                                         "pictures not stored are counted, and told when it ends")
                 : path + QStringLiteral(": ") + cause +
                       QStringLiteral(", the picture is not stored; until a picture is stored again, the pictures "
                                      "not stored are counted, and told when it ends"));
}

void pictureStored(const QString &path)
{
    std::lock_guard<std::mutex> lock(g_picturesMutex);
    if (!g_pictures.on)
        return;
    const LostPictures lost = g_pictures;
    g_pictures = LostPictures();
    if (lost.full) {
        abnormal(QStringLiteral("snapshot disk full ended"), deviceOf(path),
                 path + QStringLiteral(": the disk has room again, the picture is stored; while it was full, %1 "
                                       "pictures were not stored, the first %2, the last %3")
                            .arg(lost.count)
                            .arg(lost.first, lost.last));
        return;
    }
    abnormal(QStringLiteral("snapshot failure ended"), deviceOf(path),
             path + QStringLiteral(": a picture is stored again; until then %1 pictures were not stored, the first "
                                   "%2, the last %3")
                        .arg(lost.count)
                        .arg(lost.first, lost.last));
}

} // namespace recordlog
