#include "media/recordfileguard.h"

#include "media/recordlog.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace recordfileguard {

namespace {

const QString kKey = QStringLiteral("recordfileguard: left alone");

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
    // Not blocking on a pipe that stands under the name; a regular file
    // ignores it.
    return flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
}

} // namespace

Kind kindOf(const QString &path)
{
    struct stat st;
    // Nothing that can be seen: a write fails by itself.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return Kind::Absent;
    return S_ISREG(st.st_mode) ? Kind::Plain : Kind::Other;
}

void tell(const QString &path)
{
    // The start-up pass counts them in its folder's record.
    recordlog::leftAlone(kKey, path, QStringLiteral("record file left alone"),
                         QStringLiteral("a link or not a regular file: never written, cut, renamed, moved or deleted, "
                                        "it stays where it is"));
}

bool open(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    if (file.isOpen())
        return false;
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(), openFlags(mode), 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A link where the file was to be (O_NOFOLLOW), a pipe without a
        // reader or a socket, a folder.
        if (errno == ELOOP || errno == ENXIO || errno == EISDIR)
            tell(path);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        tell(path);
        return false;
    }
    // Cut only now that the file is known to be the folder's own.
    const bool truncate =
        (mode & QIODevice::Truncate) || (mode & (QIODevice::ReadOnly | QIODevice::Append | QIODevice::NewOnly)) == 0;
    if ((truncate && ::ftruncate(fd, 0) != 0) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
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

bool remove(const QString &path)
{
    const Kind kind = kindOf(path);
    if (kind == Kind::Other)
        tell(path);
    return kind == Kind::Plain && ::unlink(QFile::encodeName(path).constData()) == 0;
}

bool rename(const QString &from, const QString &to)
{
    const Kind kind = kindOf(from);
    if (kind == Kind::Other)
        tell(from);
    return kind == Kind::Plain && QFile::rename(from, to);
}

bool resize(const QString &path, qint64 size)
{
    QFile f;
    return open(f, path, QIODevice::ReadWrite | QIODevice::ExistingOnly) && f.resize(size);
}

} // namespace recordfileguard
