#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>

namespace testsupport {

// A small tmpfs mounted on `folder` (made when missing) for as long as the
// object lives: a folder of a record tree that lies on another file system,
// which a rename cannot reach (EXDEV). Only in a mount namespace of the
// suite's own (tests/support/ownmounts.sh); elsewhere mounted() is false and
// the test skips.
class SecondDisk
{
public:
    explicit SecondDisk(const QString &folder, const QByteArray &size = "16m") : m_folder(folder)
    {
        if (qgetenv("ARDO_OWN_MOUNTS") != "1" || !QDir().mkpath(folder))
            return;
        const QByteArray options = "size=" + size;
        m_mounted =
            ::mount("ardo-seconddisk", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SecondDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }
    SecondDisk(const SecondDisk &) = delete;
    SecondDisk &operator=(const SecondDisk &) = delete;

    bool mounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

} // namespace testsupport
