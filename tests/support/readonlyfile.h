#pragma once

#include <QFile>
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
// a plain one is brought about.
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile(const QString &path) : m_path(path)
    {
        QFile f(path);
        m_made = f.open(QIODevice::WriteOnly | QIODevice::Append) &&
                 f.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
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
        const QFile::Permissions read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        return QFile::setPermissions(m_path, on ? read | QFile::WriteOwner : read);
    }

private:
    QString m_path;
    bool m_made = false;
    bool m_reduced = false;
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
};

} // namespace testsupport
