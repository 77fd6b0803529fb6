#include "platform/regularfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

namespace {

QString kindOf(mode_t mode)
{
    return S_ISFIFO(mode)                   ? QStringLiteral("a named pipe")
           : S_ISSOCK(mode)                 ? QStringLiteral("a socket")
           : S_ISDIR(mode)                  ? QStringLiteral("a folder")
           : S_ISCHR(mode) || S_ISBLK(mode) ? QStringLiteral("a device")
                                            : QStringLiteral("no regular file");
}

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *reason)
{
    // One byte array holds the whole file.
    maxBytes = qMin(maxBytes, qint64(INT_MAX) - 64);
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(reason, errnoText(errno));
    struct stat st;
    QString why;
    if (::fstat(fd, &st) != 0)
        why = errnoText(errno);
    else if (!S_ISREG(st.st_mode))
        why = kindOf(st.st_mode);
    else if (st.st_size > maxBytes)
        why = QStringLiteral("larger than %1 bytes").arg(maxBytes);
    QByteArray out;
    if (why.isEmpty()) {
        // What a writer adds meanwhile is left for the next read.
        out.resize(int(st.st_size));
        qint64 done = 0;
        while (done < out.size()) {
            const ssize_t n = ::read(fd, out.data() + done, size_t(out.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = errnoText(errno);
                break;
            }
            if (n == 0)
                break;
            done += n;
        }
        out.resize(int(done));
    }
    ::close(fd);
    if (!why.isEmpty())
        return fail(reason, why);
    if (bytes)
        *bytes = out;
    if (reason)
        reason->clear();
    return true;
}

} // namespace platform
