#include "media/capturefile.h"

#include "media/qcrecordfile.h"
#include "media/recordfileguard.h"
#include "media/recordlog.h"

#include <QFile>
#include <QFileInfo>

namespace capturefile {

namespace {
constexpr int kMaxNameRaises = 10;
} // namespace

QString store(const QString &root, const Namer &name, const QByteArray &bytes, int *error)
{
    int cause = 0;
    QString path;
    auto fail = [&](int e) {
        // A failure that left errno unset still has to read as one.
        cause = e ? e : EIO;
        if (error)
            *error = cause;
        recordlog::pictureNotStored(path.isEmpty() ? root : path, cause);
        return QString();
    };
    if (error)
        *error = 0;
    if (root.isEmpty())
        return fail(ENOENT);
    for (int raise = 0; raise <= kMaxNameRaises; ++raise) {
        path = name(raise);
        if (path.isEmpty())
            return fail(EINVAL);
        errno = 0;
        if (!recordfileguard::makeFolder(root, QFileInfo(path).path()))
            return fail(errno);
        QFile f;
        errno = 0;
        if (!recordfileguard::open(root, f, path, QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (errno == EEXIST && raise < kMaxNameRaises)
                continue;
            return fail(errno);
        }
        // Written past Qt's buffer, so that the cause of a failure is known.
        int written = 0;
        const bool whole =
            recordio::writeAllAt(f.handle(), 0, bytes.constData(), size_t(bytes.size()), nullptr, 0, &written);
        f.close();
        if (!whole) {
            recordfileguard::remove(root, path);
            return fail(written);
        }
        recordlog::pictureStored(path);
        return path;
    }
    return fail(EEXIST);
}

void notTaken(const QString &path, int error)
{
    recordlog::pictureNotStored(path, error);
}

} // namespace capturefile
