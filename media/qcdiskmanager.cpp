#include "media/qcdiskmanager.h"

#include "media/movedrecords.h"
#include "media/recordfileguard.h"
#include "media/recordindex.h"
#include "media/recordlog.h"
#include "media/recordnames.h"
#include "platform/clock.h"
#include "platform/threadnice.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <tuple>

namespace {

constexpr qint64 kGiB = qint64(1) << 30;
constexpr qint64 kHeadroomGiB = 2;

std::mutex g_freeSpaceMutex;
qcDiskManager::FreeSpaceFunction g_freeSpace;

std::optional<qint64> systemFreeSpace(const QString &root)
{
    struct statvfs st;
    if (::statvfs(QFile::encodeName(root).constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

// The copies a move to another disk left in `folder` when it was cut short
// (the program killed): only names of that form and only regular files. Their
// originals stayed where they were and move again in the same pass.
void removeInterruptedMoves(const QString &top, const QString &folder)
{
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        if (recordnames::isMovingName(name))
            recordfileguard::remove(top, folder + '/' + name);
}

// Each folder the guard moves from, or deletes a leftover copy in, is told
// in one record when something could not be done there.
const QString kPassName = QStringLiteral("the disk guard's pass");
const QString kPassDecl = QStringLiteral("record move");

// Moves a recording, telling the operator why when it cannot: the
// original stays, pass after pass, until the cause is gone.
bool moveTold(const QString &top, const QString &from, const QString &to)
{
    QString why;
    if (recordfileguard::move(top, from, to, &why))
        return true;
    if (!why.isEmpty())
        recordlog::notMoved(from, why);
    return false;
}

QString cannotBeMade(const QString &folder)
{
    return folder + QStringLiteral(" cannot be made, or a link or a file stands on its way");
}

bool isIndexName(const QString &name)
{
    return name == QLatin1String("kfindex") || name == QLatin1String("reclist");
}

bool holdsRecordFiles(const QString &folder)
{
    return !QDir(folder).entryList({QStringLiteral("*.zmf")}, QDir::Files).isEmpty();
}

void dropIndexesOfEmptyFolder(const QString &top, const QString &folder)
{
    recordindex::FolderLocker lock(folder);
    if (holdsRecordFiles(folder) || !recordindex::indexWritable(top, folder))
        return;
    recordfileguard::remove(top, recordindex::kfindexPath(folder));
    recordfileguard::remove(top, recordindex::reclistPath(folder));
}

// The index files of `folder` after its files (`moved` of them) went into
// `target`: moved whole when every recording went and `target` holds no
// index of its own; otherwise each list record follows its recording, so
// that neither folder lists what is not in it.
void moveIndexes(const QString &top, const QString &folder, const QString &target, const QStringList &moved)
{
    const auto absent = [&top](const QString &path) {
        return recordfileguard::kindOf(top, path) == recordfileguard::Kind::Absent;
    };
    if (!holdsRecordFiles(folder) && absent(recordindex::kfindexPath(target)) &&
        absent(recordindex::reclistPath(target))) {
        // A link under an index's name stays, as every link does.
        for (const QString &path : {recordindex::kfindexPath(folder), recordindex::reclistPath(folder)})
            if (recordfileguard::kindOf(top, path) == recordfileguard::Kind::Plain)
                moveTold(top, path, target + '/' + QFileInfo(path).fileName());
        return;
    }
    movedrecords::follow(top, folder, target, moved);
    dropIndexesOfEmptyFolder(top, folder);
}

// Moves a folder into a backup folder, merging with one of the same name.
// Nothing goes through a link: a backup folder that is one receives nothing.
void moveFolderInto(const QString &top, const QString &folder, const QString &target)
{
    if (!QFileInfo::exists(target)) {
        if (recordfileguard::makeFolder(top, QFileInfo(target).path()) && recordfileguard::move(top, folder, target))
            return;
    }
    const recordlog::FolderPass pass(folder, kPassName, kPassDecl);
    if (!recordfileguard::makeFolder(top, target)) {
        recordlog::notMoved(folder, cannotBeMade(target));
        return;
    }
    removeInterruptedMoves(top, target);
    const QDir dir(folder);
    QStringList moved;
    for (const QFileInfo &fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        const QString dest = target + '/' + fi.fileName();
        // A name taken there keeps what stands there, unless a move cut
        // short left it (the guard's move finishes that one).
        if (fi.isDir())
            moveFolderInto(top, fi.filePath(), dest);
        else if (!isIndexName(fi.fileName()) && moveTold(top, fi.filePath(), dest))
            moved.append(fi.fileName());
    }
    moveIndexes(top, folder, target, moved);
    recordfileguard::removeFolder(top, folder);
}

// Where the recording whose copy a move cut short left as `moving` in
// `folder` came from: the folder holding a BackupFile, or the folder of the
// same place outside BackupDir.
QStringList originsOf(const QString &root, const QString &folder, const QString &moving)
{
    const QString name = recordnames::movedName(moving);
    QStringList origins;
    const QFileInfo here(folder);
    if (here.fileName() == QLatin1String("BackupFile"))
        origins << here.path() + '/' + name;
    const QString backupDir = root + QStringLiteral("/BackupDir");
    if (folder == backupDir || folder.startsWith(backupDir + '/'))
        origins << root + folder.mid(backupDir.size()) + '/' + name;
    return origins;
}

// The copies moves cut short left under the whole tree whose original is
// gone: nothing moves them again, and the next move into their folder that
// would delete them may never come. Only names of that form and only
// regular files; one whose original stands goes with the original's next
// move.
void removeOrphanedCopies(const QString &root, const QString &folder)
{
    const QDir dir(folder);
    {
        const recordlog::FolderPass pass(folder, kPassName, kPassDecl);
        // Looked at by name first: a day's folder holds thousands of files.
        const QStringList copies{recordnames::movingName(QStringLiteral("*"))};
        for (const QFileInfo &fi : dir.entryInfoList(copies, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
            const QString name = fi.fileName();
            if (!recordnames::isMovingName(name))
                continue;
            const QStringList origins = originsOf(root, folder, name);
            if (std::any_of(origins.cbegin(), origins.cend(), [&](const QString &origin) {
                    return recordfileguard::kindOf(root, origin) != recordfileguard::Kind::Absent;
                }))
                continue;
            const qint64 size = fi.size();
            if (recordfileguard::remove(root, fi.filePath()))
                recordlog::repaired(fi.filePath(),
                                    QStringLiteral("deleted, %1 bytes: the copy of a move cut short, its original "
                                                   "is gone")
                                        .arg(size),
                                    true, size);
        }
    }
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        removeOrphanedCopies(root, folder + '/' + sub);
}

// `path` relative to `top`, either of them spelled relative to the working
// folder or not. Absolute on both sides: of a relative path,
// QDir::relativeFilePath returns the path as it is, and below `top` that
// names what does not exist.
QString pathBelow(const QString &top, const QString &path)
{
    return QDir(QFileInfo(top).absoluteFilePath()).relativeFilePath(QFileInfo(path).absoluteFilePath());
}

// The recordings below a folder, by their paths relative to it.
QStringList recordFilesBelow(const QString &folder)
{
    QStringList out;
    for (QDirIterator it(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (recordnames::isValidRecordName(it.fileName()))
            out.append(pathBelow(folder, path));
    }
    return out;
}

} // namespace

qcDiskManager::qcDiskManager(QObject *parent) : QThread(parent), m_previous(platform::localNow()) {}

qcDiskManager::~qcDiskManager()
{
    stop();
    wait();
}

void qcDiskManager::stop()
{
    m_stop.requestStop();
}

bool qcDiskManager::setRecordRoot(const QString &root)
{
    QMutexLocker lock(&m_rootMutex);
    if (!m_root.isEmpty())
        return false;
    m_root = root;
    return true;
}

void qcDiskManager::moveRecordRoot(const QString &root)
{
    {
        QMutexLocker lock(&m_rootMutex);
        if (m_root == root)
            return;
        m_root = root;
    }
    requestCheck();
}

QString qcDiskManager::recordRoot()
{
    QMutexLocker lock(&m_rootMutex);
    return m_root;
}

bool qcDiskManager::setMinFreeSpace(qint64 gib)
{
    if (gib < m_minGiB)
        return false;
    m_minGiB = gib;
    if (gib >= 40)
        m_limit = 200;
    else if (gib >= 20)
        m_limit = 125;
    else if (gib >= 10)
        m_limit = 80;
    else if (gib >= 5)
        m_limit = 40;
    return true;
}

void qcDiskManager::replaceMinFreeSpace(qint64 gib)
{
    const qint64 before = m_minGiB;
    // Lowering first can only make a check running meanwhile delete less.
    m_minGiB = kDefaultMinGiB;
    setMinFreeSpace(std::max(gib, kDefaultMinGiB));
    // A larger reserve may already be short: the next cycle looks, not the
    // one minutes away that the interval would bring.
    if (m_minGiB != before)
        requestCheck();
}

void qcDiskManager::setFreeSpaceFunction(FreeSpaceFunction function)
{
    std::lock_guard<std::mutex> lock(g_freeSpaceMutex);
    g_freeSpace = std::move(function);
}

std::optional<qint64> qcDiskManager::freeSpace(const QString &root)
{
    FreeSpaceFunction function;
    {
        std::lock_guard<std::mutex> lock(g_freeSpaceMutex);
        function = g_freeSpace;
    }
    return function ? function(root) : systemFreeSpace(root);
}

int qcDiskManager::parseTimeOfDay(const QString &text)
{
    return recordnames::parseTimeOfDay(text);
}

void qcDiskManager::run()
{
    platform::applyThreadPriority(QThread::LowPriority);
    while (!m_stop.stopRequested()) {
        if (!recordRoot().isEmpty()) {
            if (m_checkNow.exchange(false) || m_counter > m_limit) {
                m_counter = 0;
                checkFreeSpace();
            }
            const QDateTime now = platform::localNow();
            const bool late = m_latePassNow.exchange(false);
            if (m_firstPass || late || now.date() < m_previous.date() || m_previous.time() > now.time())
                dailyPass();
            m_firstPass = false;
            m_previous = now;
        }
        if (!m_stop.sleepFor(kCycleMs))
            break;
        ++m_counter;
    }
}

void qcDiskManager::collect(const QString &folder, QFileInfoList *out)
{
    const QDir dir(folder);
    for (const QFileInfo &fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (fi.isDir()) {
            if (fi.fileName() != QLatin1String("Backup"))
                collect(fi.filePath(), out);
        } else if (recordnames::isValidRecordName(fi.fileName())) {
            out->append(fi);
        }
    }
}

void qcDiskManager::checkFreeSpace()
{
    const QString root = recordRoot();
    if (root.isEmpty())
        return;
    ++m_checks;
    const std::optional<qint64> bytes = freeSpace(root);
    // No measurement is not zero: nothing is deleted on a guess.
    if (!bytes)
        return;
    const double freeGiB = double(*bytes >> 20) / 1024.0;
    const qint64 minimum = m_minGiB;
    if (freeGiB >= double(minimum)) {
        recordlog::guardFoundRoom(root, freeGiB, minimum);
        return;
    }
    QFileInfoList candidates;
    collect(root, &candidates);
    if (candidates.isEmpty())
        return;
    // By day folder: creation times cannot be trusted on Linux, and copies
    // reset them.
    auto key = [](const QFileInfo &fi) {
        return std::make_tuple(recordnames::folderDay(fi.path()), recordnames::parseName(fi.fileName()).start,
                               fi.lastModified());
    };
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const QFileInfo &a, const QFileInfo &b) { return key(a) < key(b); });
    qint64 freed = 0;
    QMap<QString, QStringList> deleted;
    QStringList order; // oldest first
    for (const QFileInfo &fi : candidates) {
        const qint64 size = fi.size();
        // Only the file: its neighbours stay listed, and a running
        // recorder's index files stay where it writes them.
        if (recordfileguard::remove(root, fi.filePath())) {
            freed += size;
            deleted[fi.path()].append(fi.fileName());
            order.append(pathBelow(root, fi.filePath()));
        }
        if (freeGiB + double(freed / kGiB) >= double(minimum + kHeadroomGiB))
            break;
    }
    if (!order.isEmpty()) {
        recordlog::GuardPass pass;
        pass.root = root;
        pass.freeGiB = freeGiB;
        pass.reserveGiB = minimum;
        pass.deleted = order.size();
        pass.freedBytes = freed;
        pass.oldest = order.first();
        pass.newest = order.last();
        pass.reserveFree = freeGiB + double(freed) / double(kGiB) >= double(minimum);
        recordlog::guardDeleted(pass);
    }
    for (auto it = deleted.cbegin(); it != deleted.cend(); ++it) {
        recordindex::rewriteReclistWithout(root, it.key(), it.value());
        dropIndexesOfEmptyFolder(root, it.key());
    }
    removeEmptyFolders(root, root);
}

bool qcDiskManager::removeEmptyFolders(const QString &root, const QString &folder)
{
    const QDir dir(folder);
    bool content = false;
    for (const QFileInfo &fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (fi.isDir())
            content = !removeEmptyFolders(root, fi.filePath()) || content;
        else if (fi.fileName() != QLatin1String("kfindex") && fi.fileName() != QLatin1String("reclist"))
            content = true;
    }
    if (content || folder == root)
        return !content;
    dropIndexesOfEmptyFolder(root, folder);
    return recordfileguard::removeFolder(root, folder);
}

void qcDiskManager::moveTodaysLateFiles(const QString &root, const QString &folder, const QDateTime &now)
{
    const QDir dir(folder);
    const QString todayName = now.date().toString(QStringLiteral("yyyyMMdd"));
    static const QRegularExpression dayLike(QStringLiteral("^2[0-9]{7}$"));
    QStringList late;
    for (const QFileInfo &fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        const QString name = fi.fileName();
        if (fi.isDir()) {
            if (dayLike.match(name).hasMatch() ? name == todayName : name != QLatin1String("BackupFile"))
                moveTodaysLateFiles(root, fi.filePath(), now);
            continue;
        }
        if (recordnames::isValidRecordName(name) &&
            recordnames::endsAfter(folder, recordnames::parseName(name).end, now))
            late.append(name);
    }
    if (late.isEmpty())
        return;
    const recordlog::FolderPass pass(folder, kPassName, kPassDecl);
    const QString backup = folder + QStringLiteral("/BackupFile");
    if (!recordfileguard::makeFolder(root, backup)) {
        for (const QString &name : late)
            recordlog::notMoved(folder + '/' + name, cannotBeMade(backup));
        return;
    }
    removeInterruptedMoves(root, backup);
    QStringList moved;
    for (const QString &name : late)
        if (moveTold(root, folder + '/' + name, backup + '/' + name))
            moved.append(name);
    // The list never names a file that is not in its folder.
    recordindex::rewriteReclistWithout(root, folder, moved);
    recordlog::movedDatedAhead(folder, backup, moved, now);
}

void qcDiskManager::dailyPass()
{
    const QString root = recordRoot();
    if (root.isEmpty())
        return;
    const QDateTime now = platform::localNow();
    const QDate today = now.date();
    const QDir dir(root);
    for (const QFileInfo &fi : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        const QString name = fi.fileName();
        if (name == QLatin1String("BackupFile") || !recordnames::startsWithDay(name))
            continue;
        const QDate date(name.left(4).toInt(), name.mid(4, 2).toInt(), name.mid(6, 2).toInt());
        // Moved whole, index files and all, by a rename: an archive made
        // "future" by a clock set back is never copied.
        if (date.isValid() && date > today) {
            const QString target = root + QStringLiteral("/BackupDir/") + name;
            const QStringList files = recordFilesBelow(fi.filePath());
            moveFolderInto(root, fi.filePath(), target);
            // Told by the folders the recordings lay in, as the late files are.
            QMap<QString, QStringList> moved;
            for (const QString &f : files)
                if (!QFileInfo::exists(fi.filePath() + '/' + f))
                    moved[QFileInfo(f).path()].append(QFileInfo(f).fileName());
            for (auto it = moved.cbegin(); it != moved.cend(); ++it)
                recordlog::movedDatedAhead(QDir::cleanPath(fi.filePath() + '/' + it.key()),
                                           QDir::cleanPath(target + '/' + it.key()), it.value(), now);
        }
    }
    moveTodaysLateFiles(root, root, now);
    removeOrphanedCopies(root, root);
    ++m_passes;
}
