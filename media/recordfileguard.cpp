#include "media/recordfileguard.h"

#include "media/qcrecordfile.h"
#include "media/recordlog.h"
#include "media/recordnames.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace recordfileguard {

namespace {

const QString kKey = QStringLiteral("recordfileguard: left alone");

std::mutex g_beforeChangeMutex;
std::function<void(const QString &)> g_beforeChange;
// Every change asks; only a test sets the hook.
std::atomic<bool> g_beforeChangeSet{false};

void beforeChange(const QString &path)
{
    if (!g_beforeChangeSet.load(std::memory_order_relaxed))
        return;
    std::function<void(const QString &)> hook;
    {
        std::lock_guard<std::mutex> lock(g_beforeChangeMutex);
        hook = g_beforeChange;
    }
    if (hook)
        hook(path);
}

QString kindName(mode_t mode)
{
    return S_ISREG(mode)                    ? QStringLiteral("a regular file")
           : S_ISFIFO(mode)                 ? QStringLiteral("a named pipe")
           : S_ISSOCK(mode)                 ? QStringLiteral("a socket")
           : S_ISDIR(mode)                  ? QStringLiteral("a folder")
           : S_ISCHR(mode) || S_ISBLK(mode) ? QStringLiteral("a device")
                                            : QStringLiteral("neither a file nor a folder");
}

// Opens `name` of the folder `dir` and judges it by the descriptor opened,
// which comes back blocking. -1 (errno kept) when it is no regular file, with
// *seen the mode of what stands there (0 when nothing could be seen). What is
// already seen to be no regular file is not opened; an open that must make
// a new file (O_EXCL) opens nothing that stands there anyway.
int openJudged(int dir, const char *name, int flags, bool follow, mode_t *seen)
{
    *seen = 0;
    const int look = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    struct stat st;
    if (!(flags & O_EXCL) && ::fstatat(dir, name, &st, look) == 0 && !S_ISREG(st.st_mode)) {
        *seen = st.st_mode;
        errno = S_ISDIR(st.st_mode) ? EISDIR : S_ISLNK(st.st_mode) ? ELOOP : ENXIO;
        return -1;
    }
    int fd;
    do
        fd = ::openat(dir, name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW), 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        if (error != EEXIST && ::fstatat(dir, name, &st, look) == 0 && !S_ISREG(st.st_mode))
            *seen = st.st_mode;
        errno = error;
        return -1;
    }
    const bool looked = ::fstat(fd, &st) == 0;
    const bool regular = looked && S_ISREG(st.st_mode);
    if (!regular || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = regular ? errno : ENXIO;
        if (looked && !regular)
            *seen = st.st_mode;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int openFlags(QIODevice::OpenMode mode)
{
    const bool reads = mode & QIODevice::ReadOnly;
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append | QIODevice::NewOnly);
    int flags = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    if (writes && !(mode & QIODevice::ExistingOnly))
        flags |= O_CREAT;
    if (mode & QIODevice::NewOnly)
        flags |= O_EXCL;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    return flags;
}

// The top, followed as it is, and the names below it; the last name is the
// path's own. `below` is false for a path that is not the top or below it.
struct Split
{
    QString top;
    QStringList names;
    bool below = false;
};

Split parentAndName(const QString &clean)
{
    const int slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {QStringLiteral("."), {clean}, true};
    return {slash == 0 ? QStringLiteral("/") : clean.left(slash), {clean.mid(slash + 1)}, true};
}

// Both made absolute first: a relative top (the run folder's) and a path
// spelt differently still compare, and a ".." that climbs out of the top is
// gone from the clean form, so it is seen not to lie below it.
QString cleanAbsolute(const QString &path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

const QString kOutsideKey = QStringLiteral("recordfileguard: not below its top");

Split split(const QString &top, const QString &path)
{
    const QString cleanTop = cleanAbsolute(top);
    const QString clean = cleanAbsolute(path);
    if (!cleanTop.isEmpty() && clean == cleanTop)
        return {cleanTop, {}, true};
    const QString prefix = cleanTop.endsWith(QLatin1Char('/')) ? cleanTop : cleanTop + QLatin1Char('/');
    // A caller without a top has nothing below it.
    if (cleanTop.isEmpty() || !clean.startsWith(prefix)) {
        recordlog::leftAlone(kOutsideKey, clean, QStringLiteral("record file left alone"),
                             QStringLiteral("not below its record folder %1: never written, cut, renamed, moved, "
                                            "made or deleted")
                                 .arg(cleanTop));
        // Not EXDEV, EEXIST or ENOENT: no caller takes it for another file
        // system, a taken name or a file already gone.
        errno = EPERM;
        return {};
    }
    return {cleanTop, clean.mid(prefix.size()).split(QLatin1Char('/')), true};
}

// Opens the folder `names` lead to from `top`, never through a link below
// the top; with `make`, the missing folders are made on the way. -1 with
// errno when it cannot; a link or a file standing on the way is told.
int walk(const QString &top, const QStringList &names, bool make)
{
    const QByteArray topPath = QFile::encodeName(top);
    int fd = ::open(topPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && make && QDir().mkpath(top))
        fd = ::open(topPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QString at = top;
    for (const QString &name : names) {
        if (fd < 0)
            return -1;
        at += QLatin1Char('/') + name;
        const QByteArray n = QFile::encodeName(name);
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(fd, n.constData(), flags);
        if (next < 0 && errno == ENOENT && make && (::mkdirat(fd, n.constData(), 0777) == 0 || errno == EEXIST))
            next = ::openat(fd, n.constData(), flags);
        if (next < 0) {
            const int error = errno;
            struct stat st;
            if (::fstatat(fd, n.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
                tell(at);
            ::close(fd);
            errno = error;
            return -1;
        }
        ::close(fd);
        fd = next;
    }
    return fd;
}

// A name in a folder reached without a link.
class Place
{
public:
    Place(const QString &top, const QString &path)
    {
        Split s = split(top, path);
        if (!s.below)
            return;
        // The top itself: its own folder is not looked at.
        if (s.names.isEmpty())
            s = parentAndName(s.top);
        m_name = QFile::encodeName(s.names.takeLast());
        m_dir = walk(s.top, s.names, false);
    }
    ~Place()
    {
        if (m_dir >= 0)
            ::close(m_dir);
    }
    Place(const Place &) = delete;
    Place &operator=(const Place &) = delete;

    bool reached() const { return m_dir >= 0; }
    int dir() const { return m_dir; }
    const char *name() const { return m_name.constData(); }
    // lstat of the name; st_mode 0 when nothing can be seen.
    mode_t mode() const
    {
        struct stat st;
        return reached() && ::fstatat(m_dir, name(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_mode : 0;
    }

private:
    int m_dir = -1;
    QByteArray m_name;
};

// A name that is taken keeps what stands there; a link there is told.
void nameTaken(const Place &to, const QString &path)
{
    const mode_t mode = to.mode();
    if (mode && !S_ISREG(mode) && !S_ISDIR(mode))
        tell(path);
    errno = EEXIST;
}

// Copies the regular file `from` to the new file `to`, on the disk, not only
// in its cache, before the original may go. 0, or the errno of what failed;
// a copy that failed is deleted.
int copyFile(const QString &top, const QString &from, const QString &to)
{
    QFile in, out;
    if (!open(top, in, from, QIODevice::ReadOnly))
        return errno ? errno : EIO;
    if (!open(top, out, to, QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return errno ? errno : EIO;
    int error = 0;
    qint64 at = 0;
    for (;;) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            error = in.error() != QFileDevice::NoError || at != in.size() ? EIO : 0;
            break;
        }
        // Keeps the errno of a full disk, which a buffered write loses.
        if (!recordio::writeAllAt(out.handle(), at, chunk.constData(), size_t(chunk.size()), nullptr, 0, &error))
            break;
        at += chunk.size();
    }
    if (!error && ::fsync(out.handle()) != 0)
        error = errno;
    out.close();
    if (error)
        remove(top, to);
    return error;
}

// Why nothing could be put under `name` of the folder `dir`, for the
// operator: what stands there.
QString whyTaken(int dir, const char *name, const QString &which)
{
    struct stat st;
    const mode_t mode = ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_mode : 0;
    const QString what = S_ISREG(mode)   ? QStringLiteral("a different file")
                         : S_ISLNK(mode) ? QStringLiteral("a link")
                         : mode          ? kindName(mode)
                                         : QStringLiteral("something");
    return QStringLiteral("%1 stands under %2").arg(what, which);
}

QString whyFailed(int error, const QString &to)
{
    if (error == ENOSPC || error == EDQUOT)
        return QStringLiteral("the disk of %1 is full").arg(QFileInfo(to).path());
    return QString::fromLocal8Bit(::strerror(error));
}

enum class Copy {
    Differs,
    Part, // the original's first bytes
    Whole,
};

Copy compare(const QString &top, const QString &copy, const QString &original)
{
    QFile a, b;
    if (!open(top, a, copy, QIODevice::ReadOnly) || !open(top, b, original, QIODevice::ReadOnly) || a.size() > b.size())
        return Copy::Differs;
    while (!a.atEnd()) {
        const QByteArray chunk = a.read(1 << 20);
        if (chunk.isEmpty() || b.read(chunk.size()) != chunk)
            return Copy::Differs;
    }
    return a.size() == b.size() ? Copy::Whole : Copy::Part;
}

} // namespace

Kind kindOf(const QString &top, const QString &path)
{
    const Place place(top, path);
    if (!place.reached())
        return errno == ENOENT ? Kind::Absent : Kind::Other;
    const mode_t mode = place.mode();
    // Nothing that can be seen: a write fails by itself.
    if (!mode)
        return Kind::Absent;
    return S_ISREG(mode) ? Kind::Plain : Kind::Other;
}

void tell(const QString &path)
{
    // The start-up pass counts them in its folder's record.
    recordlog::leftAlone(kKey, path, QStringLiteral("record file left alone"),
                         QStringLiteral("a link or not a regular file: never written, cut, renamed, moved or deleted, "
                                        "it stays where it is"));
}

bool open(const QString &top, QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    if (mode & QIODevice::WriteOnly)
        beforeChange(path);
    if (file.isOpen())
        return false;
    const Place place(top, path);
    if (!place.reached())
        return false;
    mode_t seen;
    const int fd = openJudged(place.dir(), place.name(), openFlags(mode), false, &seen);
    if (fd < 0) {
        // A link where the file was to be, a named pipe, a socket, a folder.
        if (seen || errno == ELOOP || errno == ENXIO || errno == EISDIR)
            tell(path);
        return false;
    }
    // Cut only now that the file is known to be the folder's own.
    const bool truncate =
        (mode & QIODevice::Truncate) || (mode & (QIODevice::ReadOnly | QIODevice::Append | QIODevice::NewOnly)) == 0;
    if (truncate && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    file.setFileName(path);
    if (!file.open(fd, mode & ~(QIODevice::Truncate | QIODevice::NewOnly | QIODevice::ExistingOnly),
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

QString openToRead(int dir, const QString &name, QFile &file, bool follow)
{
    const QByteArray n = QFile::encodeName(name);
    mode_t seen;
    const int fd = openJudged(dir, n.constData(), O_RDONLY, follow, &seen);
    if (fd >= 0) {
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            ::close(fd);
        return QString();
    }
    if (!S_ISLNK(seen))
        return seen ? kindName(seen) : QString();
    struct stat target;
    if (::fstatat(dir, n.constData(), &target, 0) != 0)
        return QStringLiteral("a link that leads nowhere");
    return QStringLiteral("a link to ") + kindName(target.st_mode);
}

bool remove(const QString &top, const QString &path)
{
    beforeChange(path);
    const Place place(top, path);
    if (!place.reached())
        return false;
    const mode_t mode = place.mode();
    if (mode && !S_ISREG(mode))
        tell(path);
    return S_ISREG(mode) && ::unlinkat(place.dir(), place.name(), 0) == 0;
}

bool rename(const QString &top, const QString &from, const QString &to)
{
    beforeChange(from);
    const Place source(top, from);
    if (!source.reached())
        return false;
    const mode_t mode = source.mode();
    if (mode && !S_ISREG(mode) && !S_ISDIR(mode))
        tell(from);
    if (!S_ISREG(mode) && !S_ISDIR(mode))
        return false;
    const Place target(top, to);
    if (!target.reached())
        return false;
    if (::renameat2(source.dir(), source.name(), target.dir(), target.name(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) {
        nameTaken(target, to);
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system that cannot rename without replacing: a second name
    // that is refused where one stands, then the first one goes.
    if (S_ISREG(mode)) {
        if (::linkat(source.dir(), source.name(), target.dir(), target.name(), 0) != 0) {
            if (errno == EEXIST)
                nameTaken(target, to);
            return false;
        }
        return ::unlinkat(source.dir(), source.name(), 0) == 0;
    }
    if (target.mode()) {
        nameTaken(target, to);
        return false;
    }
    return ::renameat(source.dir(), source.name(), target.dir(), target.name()) == 0;
}

bool replace(const QString &top, const QString &from, const QString &to)
{
    beforeChange(to);
    const QString folder = parentAndName(QDir::cleanPath(from)).top;
    if (parentAndName(QDir::cleanPath(to)).top != folder) {
        errno = EXDEV;
        return false;
    }
    // One walk for both names: the folder cannot turn into a link between
    // what is looked at and what is renamed.
    const Place source(top, from);
    const mode_t mode = source.mode();
    if (!S_ISREG(mode)) {
        if (mode)
            tell(from);
        return false;
    }
    const QByteArray name = QFile::encodeName(QFileInfo(to).fileName());
    struct stat st;
    if (::fstatat(source.dir(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        tell(to);
        errno = EEXIST;
        return false;
    }
    return ::renameat(source.dir(), source.name(), source.dir(), name.constData()) == 0;
}

bool move(const QString &top, const QString &from, const QString &to, QString *why)
{
    QString reason;
    const QString originalStays = QStringLiteral("copied to %1, but the original could not be deleted").arg(to);
    const auto newNameTaken = [&to](const Place &target) {
        return whyTaken(target.dir(), target.name(), QStringLiteral("its new name ") + to);
    };
    const bool moved = [&] {
        if (rename(top, from, to))
            return true;
        const int error = errno;
        // A folder is moved file by file by the caller; what is no regular
        // file was told already.
        if (kindOf(top, from) != Kind::Plain)
            return false;
        const Place target(top, to);
        if (!target.reached()) {
            reason = QStringLiteral("%1 cannot be reached without a link").arg(QFileInfo(to).path());
            return false;
        }
        if (error != EXDEV) {
            reason = error == EEXIST ? newNameTaken(target) : whyFailed(error, to);
            errno = error;
            return false;
        }
        const mode_t there = target.mode();
        if (S_ISREG(there)) {
            // What a move cut short left under the final name: the whole copy
            // (cut between the rename into place and the deletion) needs only
            // the deletion; a part (copied under the final name by older
            // versions) gives way to the whole. The original stays until then.
            const Copy stands = compare(top, to, from);
            if (stands == Copy::Whole) {
                if (remove(top, from))
                    return true;
                reason = originalStays;
                return false;
            }
            if (stands == Copy::Differs || !remove(top, to)) {
                reason = newNameTaken(target);
                errno = EEXIST;
                return false;
            }
        } else if (there) {
            nameTaken(target, to);
            reason = newNameTaken(target);
            return false;
        }
        // A copy under a name no one lists or plays until it is whole: a move
        // cut short leaves no part of a recording under its name, and the disk
        // guard's next pass deletes what it left.
        const QFileInfo named(to);
        const QString movingName = recordnames::movingName(named.fileName());
        const QString moving = named.path() + QLatin1Char('/') + movingName;
        if (const int copyError = copyFile(top, from, moving)) {
            reason = copyError == EEXIST ? whyTaken(target.dir(), QFile::encodeName(movingName).constData(),
                                                    QStringLiteral("the name of its copy ") + moving)
                                         : whyFailed(copyError, to);
            errno = copyError;
            return false;
        }
        if (!rename(top, moving, to)) {
            const int error = errno;
            reason = error == EEXIST ? newNameTaken(target) : whyFailed(error, to);
            remove(top, moving);
            errno = error;
            return false;
        }
        // The new name on the disk before the only other copy goes.
        if (::fsync(target.dir()) == 0 && remove(top, from))
            return true;
        reason = originalStays;
        return false;
    }();
    if (why)
        *why = moved ? QString() : reason;
    return moved;
}

bool resize(const QString &top, const QString &path, qint64 size)
{
    QFile f;
    return open(top, f, path, QIODevice::ReadWrite | QIODevice::ExistingOnly) && f.resize(size);
}

bool makeFolder(const QString &top, const QString &folder)
{
    beforeChange(folder);
    const Split s = split(top, folder);
    if (!s.below)
        return false;
    if (s.names.isEmpty())
        return QDir().mkpath(s.top);
    const int fd = walk(s.top, s.names, true);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool removeFolder(const QString &top, const QString &folder)
{
    beforeChange(folder);
    const Place place(top, folder);
    return S_ISDIR(place.mode()) && ::unlinkat(place.dir(), place.name(), AT_REMOVEDIR) == 0;
}

void setBeforeChangeHook(std::function<void(const QString &path)> hook)
{
    std::lock_guard<std::mutex> lock(g_beforeChangeMutex);
    g_beforeChangeSet = bool(hook);
    g_beforeChange = std::move(hook);
}

} // namespace recordfileguard
