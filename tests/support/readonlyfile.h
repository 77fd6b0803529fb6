#pragma once

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace testsupport {

// A regular file that cannot be written, even by root: its mode forbids it,
// and the calling thread (with the threads it starts meanwhile) gives up the
// capabilities that let root write past a file's mode. Index files that are
// links or folders are left alone on purpose; this is how a failed write of
// a plain one is brought about. A folder standing under the name is made
// read-only the same way: nothing can be made in it.
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile(const QString &path) : m_path(path)
    {
        m_folder = QFileInfo(path).isDir();
        QFile f(path);
        m_made = m_folder ? writable(false) : f.open(QIODevice::WriteOnly | QIODevice::Append) && writable(false);
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, m_saved, sizeof reduced);
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        m_reduced = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~ReadOnlyFile()
    {
        writable(true);
        if (m_reduced)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    bool isValid() const { return m_made && (m_reduced || ::geteuid() != 0); }
    bool writable(bool on)
    {
        QFile::Permissions read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        if (m_folder)
            read |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        return QFile::setPermissions(m_path, on ? read | QFile::WriteOwner : read);
    }

private:
    QString m_path;
    bool m_folder = false;
    bool m_made = false;
    bool m_reduced = false;
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
};

} // namespace testsupport
